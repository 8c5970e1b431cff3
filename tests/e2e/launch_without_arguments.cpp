// Starts the program named by its first argument with an empty argument vector, as a
// careless or hostile parent can.
#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: launch_without_arguments PROGRAM\n", stderr);
        return 2;
    }
    char* no_arguments[] = {nullptr};
    execve(argv[1], no_arguments, environ);
    std::perror(argv[1]);
    return 127;
}
