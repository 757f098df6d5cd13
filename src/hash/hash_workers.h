#pragma once

// How many files a run hashes at once: one per core, at most 8, and one
// where the current folder's disk seeks. Decided once per run.
unsigned HashWorkers();
