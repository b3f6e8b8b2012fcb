// What the process gives up once FILE is open: a file that takes over the
// parser can then reach nothing but the descriptors that are already open.
#pragma once

// Leaves the process able to read what it has open, write standard output
// and standard error, use memory and exit, and nothing else: no opening of
// any path, no removing, renaming or linking, no new sockets or
// connections, no signals or tracing beyond itself, no new processes, no
// exec, no pushing input into the terminal, no System V IPC or keys: only
// the system calls that a run makes get through. Uses what the running
// kernel offers (no_new_privs, a seccomp filter, Landlock) and goes on
// silently without what it refuses; nothing the tool prints or returns
// depends on it. Called once, after FILE is open
// and anything else the run reads from the file system has been read,
// before the first byte of FILE is read.
void confine_process();
