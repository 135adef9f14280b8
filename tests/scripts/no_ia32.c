// Runs a command as on a kernel whose IA32 emulation is off: every i386 program it starts,
// directly or through its children (32-bit Wine among them), is killed at its first system
// call. Lets the x86-64-only path of the scripts be tried on a machine that runs 32-bit
// programs:
//   cc -o build/no-ia32 tests/scripts/no_ia32.c && build/no-ia32 scripts/test
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (argc < 2) {
        fprintf(stderr, "usage: no-ia32 command [argument...]\n");
        return 2;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        perror("no-ia32: cannot install the system call filter");
        return 1;
    }
    execvp(argv[1], argv + 1);
    perror("no-ia32: cannot start the command");
    return 127;
}
