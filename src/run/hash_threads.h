#pragma once

#include "pipeline/threads.h"
#include "platform/disk.h"

// How many threads a run hashes on: the policy, from the disk and the CPUs,
// that the pipeline is given and never asks for itself.
// Threads: any.
namespace run {

// How many files are hashed at once on `disk` with `cpus` usable: one where
// the disk seeks, else one per CPU, at most 8; twice as many on a
// hypervisor's disk, whose reads come back sooner queued deeper (what runs
// beyond the CPUs mostly waits for the disk there), unless the process may
// use one CPU only.
unsigned FilesAtOnce(platform::DiskKind disk, unsigned cpus);

// FilesAtOnce for the current folder's disk and the CPUs the process may
// use (its affinity, and on Linux its cgroup's CPU quota); reading ahead
// wherever there is more than one CPU. With one CPU, no helper. Decided once
// per run.
pipeline::Threads HashThreads();

}  // namespace run
