#include "encode/entry_jobs.h"

#include <string.h>

#include <new>

JobCoder* newJobCoder() {
  JobCoder* c = new (std::nothrow) JobCoder();
  if (!c) return 0;
  c->encoder = newEntryEncoder();
  if (!c->encoder) {
    delete c;
    return 0;
  }
  return c;
}

void freeJobCoder(JobCoder* c) {
  if (!c) return;
  freeEntryEncoder(c->encoder);
  delete c;
}

void appendContextFields(std::vector<uint8_t>* out, const ContextChoice& c) {
  const bool stored = !(c.back == 1 && c.prefix == 0);
  out->push_back((uint8_t)(stored ? c.back : 0));
  if (stored) {
    out->push_back((uint8_t)c.prefix);
    out->push_back((uint8_t)(c.prefix >> 8));
  }
}

// Bits that coding the file's bytes [prefix, end) costs against the preset
// of candidate k, plus the record bytes the choice adds.
static uint64_t trialCost(EntryEncoder* e, const JobSettings& s, EntryJob* job, int k, uint32_t end) {
  const ContextChoice c = job->contexts[k];
  const uint8_t* preset = job->presets.data() + (size_t)k * kPresetRoom;
  uint64_t bits;
  if (s.exactTrials) {
    static thread_local BitWriter counter;
    initBitWriter(&counter, 0);
    beginEntry(e, s.trialLevel, preset, job->presetLength[k], end - c.prefix, &counter);
    feedEntry(e, job->bytes.data() + c.prefix, end - c.prefix);
    endEntry(e);
    bits = bitsWritten(&counter);
  } else {
    beginEntry(e, s.trialLevel, preset, job->presetLength[k], end - c.prefix, 0);
    feedEntry(e, job->bytes.data() + c.prefix, end - c.prefix);
    endEntry(e);
    bits = estimatedBits(e);
  }
  job->trialBytes += end - c.prefix;
  const bool stored = !(c.back == 1 && c.prefix == 0);
  return bits + (stored ? 16 : 0);
}

int chooseJobContext(EntryEncoder* e, const JobSettings& s, EntryJob* job) {
  if (job->contextCount <= 1) return 0;
  // Bytes beyond 8 KB past the prefix cannot reach the preset.
  uint32_t end = 0;
  for (int i = 0; i < job->contextCount; ++i)
    if (job->contexts[i].prefix + kPresetRoom > end) end = job->contexts[i].prefix + kPresetRoom;
  if (end > job->size) end = job->size;
  int best = 0;
  uint64_t bestCost = ~0ull;
  for (int i = 0; i < job->contextCount; ++i) {
    const uint64_t cost = trialCost(e, s, job, i, end);
    if (cost < bestCost) {
      bestCost = cost;
      best = i;
    }
  }
  return best;
}

void codeHeldJob(JobCoder* coder, const JobSettings& s, EntryJob* job, std::atomic<uint64_t>* progress,
                 const std::atomic<bool>* stop, void (*tick)(void*), void* tickContext) {
  job->trialBytes = 0;
  job->chosen = chooseJobContext(coder->encoder, s, job);
  const ContextChoice c = job->contexts[job->chosen];
  job->output.clear();
  job->output.reserve(job->record.size() + 3 + (job->size - c.prefix) / 2 + 64);
  job->output.insert(job->output.end(), job->record.begin(), job->record.end());
  appendContextFields(&job->output, c);
  if (c.prefix) progress->fetch_add(c.prefix, std::memory_order_relaxed);
  if (job->size > c.prefix) {
    // The preset bytes and the file's coded part in one piece, as the
    // encoder reads a whole entry.
    const uint32_t presetLength = job->presetLength[job->chosen];
    const uint32_t total = job->size - c.prefix;
    std::vector<uint8_t> data(presetLength + (size_t)total);
    memcpy(data.data(), job->presets.data() + (size_t)job->chosen * kPresetRoom, presetLength);
    memcpy(data.data() + presetLength, job->bytes.data() + c.prefix, total);
    std::vector<uint8_t>().swap(job->bytes);
    struct Progress {
      std::atomic<uint64_t>* counter;
      void (*tick)(void*);
      void* tickContext;
    } progressOf = {progress, tick, tickContext};
    WholeEntry whole;
    whole.data = data.data();
    whole.presetLength = presetLength;
    whole.total = total;
    whole.helper = s.helper;
    whole.onProgress = [](void* context, uint32_t bytes) {
      Progress* p = (Progress*)context;
      p->counter->fetch_add(bytes, std::memory_order_relaxed);
      if (p->tick) p->tick(p->tickContext);
    };
    whole.context = &progressOf;
    whole.stop = stop;
    initBitWriterToMemory(&coder->bits, &job->output);
    codeWholeEntry(coder->encoder, s.level, whole, &coder->bits);
    drainBits(&coder->bits);
  }
  // The input is no longer needed; only the output waits to be written.
  std::vector<uint8_t>().swap(job->bytes);
  std::vector<uint8_t>().swap(job->presets);
}

// ---- the queue ----

static void workerLoop(JobQueue* q, JobCoder* coder) {
  std::unique_lock<std::mutex> hold(q->lock);
  for (;;) {
    q->wake.wait(hold, [&] { return q->stopping || q->nextStart < q->firstIndex + q->jobs.size(); });
    if (q->stopping) return;
    EntryJob* job = q->jobs[q->nextStart - q->firstIndex];
    ++q->nextStart;
    if (job->done) continue;  // folders and records alone
    hold.unlock();
    try {
      codeHeldJob(coder, q->settings, job, q->progress, &q->abandon);
    } catch (const std::bad_alloc&) {
      job->failed = true;
    }
    hold.lock();
    job->done = true;
    q->finished.notify_all();
  }
}

bool startJobQueue(JobQueue* q, int threads, const JobSettings& s, std::atomic<uint64_t>* progress) {
  q->firstIndex = 0;
  q->nextStart = 0;
  q->stopping = false;
  q->abandon = false;
  q->settings = s;
  q->progress = progress;
  for (int i = 0; i < threads; ++i) {
    JobCoder* c = newJobCoder();
    if (!c) {
      stopJobQueue(q);
      return false;
    }
    q->coders.push_back(c);
  }
  for (JobCoder* c : q->coders) q->workers.emplace_back(workerLoop, q, c);
  return true;
}

void addJob(JobQueue* q, EntryJob* job) {
  std::lock_guard<std::mutex> hold(q->lock);
  q->jobs.push_back(job);
  q->wake.notify_one();
}

EntryJob* takeFinishedJob(JobQueue* q, int waitMs) {
  std::unique_lock<std::mutex> hold(q->lock);
  if (q->jobs.empty()) return 0;
  if (!q->jobs.front()->done && waitMs > 0)
    q->finished.wait_for(hold, std::chrono::milliseconds(waitMs), [&] { return q->jobs.front()->done; });
  EntryJob* job = q->jobs.front();
  if (!job->done) return 0;
  q->jobs.pop_front();
  ++q->firstIndex;
  if (q->nextStart < q->firstIndex) q->nextStart = q->firstIndex;
  return job;
}

size_t jobsInQueue(JobQueue* q) {
  std::lock_guard<std::mutex> hold(q->lock);
  return q->jobs.size();
}

void stopJobQueue(JobQueue* q) {
  {
    std::lock_guard<std::mutex> hold(q->lock);
    q->stopping = true;
    q->abandon = true;
    q->wake.notify_all();
  }
  for (std::thread& t : q->workers) t.join();
  q->workers.clear();
  for (JobCoder* c : q->coders) freeJobCoder(c);
  q->coders.clear();
  for (EntryJob* job : q->jobs) delete job;
  q->jobs.clear();
}
