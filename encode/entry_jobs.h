// File entries coded on worker threads. Everything the coded data of a file
// depends on is known when the file is added: its own bytes, and the head
// ring as the decoder will have it (every slot holds the first bytes of an
// earlier file as stored, whatever context that file chose). So the writer
// takes the candidate contexts and their preset bytes from its ring when a
// file is added, and the rest (choosing among them, coding) is a job that any
// thread can do into memory. The writer emits the jobs' bytes in archive
// order, so the archive is the same for any number of threads.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "encode/bit_writer.h"
#include "encode/lz_encoder.h"

static const int kMaxContexts = 6;
static const uint32_t kPresetRoom = 8192;

struct ContextChoice {
  uint32_t back;    // 1..255 (1 with prefix 0 is stored as back = 0)
  uint32_t prefix;  // leading bytes taken from the referenced head
};

// How the jobs are coded (the same for every thread).
struct JobSettings {
  int level;
  int trialLevel;      // parse level of the trial codings that compare contexts
  bool exactTrials;    // trials code with built trees and count the real bits
  bool helper;         // a large file's matches are found on a second thread
};

struct EntryJob {
  // Set when the entry is added.
  bool folder;
  uint32_t size;
  std::vector<uint8_t> bytes;       // the whole file (held), or at least its look-ahead
  std::vector<uint8_t> record;      // the record up to `back`: name, times, size
  int contextCount;                 // candidates to try, at least 1 for a file
  ContextChoice contexts[kMaxContexts];
  uint32_t presetLength[kMaxContexts];
  std::vector<uint8_t> presets;     // kPresetRoom bytes per candidate
  // Set by coding.
  std::vector<uint8_t> output;      // the whole record and the coded data
  int chosen;
  uint64_t trialBytes;
  bool failed;                      // memory ran out while coding
  bool done;
};

// A thread's tools for coding jobs.
struct JobCoder {
  EntryEncoder* encoder;
  BitWriter bits;
};

// The candidate to code with: trial codings of the part of the file that
// the context can affect, the cheapest kept (the first on a tie).
int chooseJobContext(EntryEncoder* e, const JobSettings& s, EntryJob* job);
// The bytes of the record that follow `record` for this choice.
void appendContextFields(std::vector<uint8_t>* out, const ContextChoice& c);
// Codes a held job completely into job->output; `progress` grows by the
// file's bytes as they are coded. Once `stop` is set the coding ends early
// (the job is then only fit to be dropped). `tick`, when given, is called
// after each piece (progress shown by the thread that codes).
void codeHeldJob(JobCoder* coder, const JobSettings& s, EntryJob* job, std::atomic<uint64_t>* progress,
                 const std::atomic<bool>* stop, void (*tick)(void*) = 0, void* tickContext = 0);

// Jobs added, not yet written, in archive order; worker threads take them in
// that order and the writer waits for the oldest.
struct JobQueue {
  std::mutex lock;
  std::condition_variable wake;      // workers: a job to start, or stop
  std::condition_variable finished;  // the writer: a job is done
  std::deque<EntryJob*> jobs;
  uint64_t firstIndex;               // index of jobs.front() among all jobs added
  uint64_t nextStart;                // index of the next job a worker takes
  bool stopping;
  std::atomic<bool> abandon;         // stopping before the jobs are written
  JobSettings settings;
  std::atomic<uint64_t>* progress;
  std::vector<std::thread> workers;
  std::vector<JobCoder*> coders;
};

// Starts `threads` workers (0: none; the caller codes every job itself).
// False when memory for their encoders is short.
bool startJobQueue(JobQueue* q, int threads, const JobSettings& s, std::atomic<uint64_t>* progress);
void addJob(JobQueue* q, EntryJob* job);
// The oldest job once it is done (waiting at most `waitMs` for it), taken out
// of the queue; null when there is none or it is still being coded.
EntryJob* takeFinishedJob(JobQueue* q, int waitMs);
size_t jobsInQueue(JobQueue* q);
// Stops the workers (a job being coded is cut short) and frees every job
// still queued.
void stopJobQueue(JobQueue* q);

JobCoder* newJobCoder();
void freeJobCoder(JobCoder* c);
