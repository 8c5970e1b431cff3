/* Times two commands in alternating runs and prints the median of the pairwise ratios of
 * their wall times, second over first, with each command's median in milliseconds.
 *   pairs N COMMAND_A -- COMMAND_B */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double run(char **argv)
{
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid == 0) {
        if (freopen("/dev/null", "w", stdout) == NULL)
            _exit(127);
        execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "pairs: %s failed\n", argv[0]);
        exit(1);
    }
    return (double)(end.tv_sec - start.tv_sec) * 1e3 + (double)(end.tv_nsec - start.tv_nsec) / 1e6;
}

static int by_value(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *values, int n)
{
    qsort(values, (size_t)n, sizeof *values, by_value);
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int main(int argc, char **argv)
{
    int split = 2;
    while (split < argc && strcmp(argv[split], "--") != 0)
        split++;
    int n = argc > 1 ? atoi(argv[1]) : 0;
    if (n < 1 || split == 2 || split >= argc - 1) {
        fputs("usage: pairs N COMMAND_A -- COMMAND_B\n", stderr);
        return 2;
    }
    argv[split] = NULL;
    double *a = calloc((size_t)n, sizeof *a), *b = calloc((size_t)n, sizeof *b),
           *ratio = calloc((size_t)n, sizeof *ratio);
    if (a == NULL || b == NULL || ratio == NULL)
        return 1;
    for (int i = 0; i < n; i++) {
        a[i] = run(argv + 2);
        b[i] = run(argv + split + 1);
        ratio[i] = b[i] / a[i];
    }
    double ratio_median = median(ratio, n);
    printf("pairs=%d median_a_ms=%.3f median_b_ms=%.3f median_ratio_b_over_a=%.4f\n", n,
           median(a, n), median(b, n), ratio_median);
    return 0;
}
