// Processes: fork keeping two descriptors, and crash reporting.
//
//   pid_t pid = hqfork(envelope_fd, message_fd);
//   if (pid == 0) { dup2(...); execv(...); _exit(81); }
#pragma once

#include <sys/types.h>

// fork(); the child closes every descriptor from 3 up except `fd1` and `fd2`
// (either may be -1). Returns as fork() does.
pid_t hqfork(int fd1, int fd2);

// Installs handlers that write "<program>: fatal signal N" to standard error
// when the program crashes, then let the signal end it.
// `reserved` is unused and should be null.
void hqcrash_setup(const char *program, const void *reserved);
