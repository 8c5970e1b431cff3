/* The least a battery-level command can do by this design: start the same pipeline, read
 * one line of it into a 5120-byte buffer, close it, print one line. The yardstick for
 * powmeter's own start-up cost. */
#include <stdio.h>
#include <string.h>

int main(void)
{
    char text[5120];
    FILE *pipe = popen("ioreg -l | grep Capacity |  tr '\\n' ' | '", "r");
    if (pipe == NULL)
        return 0;
    if (fgets(text, sizeof text, pipe) == NULL)
        text[0] = '\0';
    pclose(pipe);
    printf("Battery Level is %d%%\n", (int)(strlen(text) % 101));
    return 0;
}
