// Ratio and speed of our format against zlib on real data, all measured in
// one run on this machine:
//
//   format_bench [--repeat N] [--levels 4,1] [--no-targets] DIR...
//
// For each DIR (one corpus set) the files are collected exactly as
// `vellicor pack DIR` collects them (same order, names and times) and read
// into memory once, so no timing includes reading the inputs. Then:
//
//  - our creator: the archive writer over those files, fed as `pack` feeds
//    it, writing the self-extracting file to a temporary file, at each level;
//  - zlib: compress2 at levels 9 and 6 over the same bytes concatenated in
//    that order (one stream, like a .tar.gz without the tar headers);
//  - our decoder: the archive read back through the core the way
//    `vellicor test` reads it (every record, every file decoded in skip mode,
//    nothing written), next to zlib inflating its level-9 stream into a
//    64 KB buffer that is thrown away.
//
// Sizes: "ours" is the payload (the file minus the fixed 26,112-byte stub);
// ratios are compressed / original. Speeds are MB/s (10^6 bytes) of original
// data, the best of --repeat runs. Every decode is checked: our sizes and the
// first 16 KB of every file (the decoder's head capture) against the input,
// zlib's output byte for byte. Exit status 1 on any failed check, 0 otherwise
// (a missed target is reported, not failed).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/app_state.h"
#include "archive/driver.h"
#include "archive/header.h"
#include "decode/code_tree.h"
#include "encode/archive_writer.h"
#include "fileio/fatal.h"
#include "platform/host/scripted_ui.h"
#include "tools/pack_inputs.h"

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

struct FileData {
  PackInput in;
  size_t offset;  // into Corpus::bytes
};

struct Corpus {
  std::string name;
  std::vector<FileData> items;  // folders too, in archive order
  std::vector<uint8_t> bytes;   // every file's content, concatenated in archive order
  uint32_t files = 0;
};

bool loadCorpus(const std::string& dir, Corpus* c, std::string* why) {
  CollectResult r;
  collectInputs({dir}, ~0ull, ~0ull, &r);
  if (!r.error.empty()) {
    *why = r.error;
    return false;
  }
  std::string base = dir;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  c->name = base.substr(base.rfind('/') == std::string::npos ? 0 : base.rfind('/') + 1);
  uint64_t total = 0;
  for (const PackInput& in : r.items) total += in.folder ? 0 : in.size;
  c->bytes.resize(total);
  size_t at = 0;
  for (const PackInput& in : r.items) {
    c->items.push_back({in, at});
    if (in.folder) continue;
    ++c->files;
    FILE* f = fopen(in.hostPath.c_str(), "rb");
    if (!f || fread(c->bytes.data() + at, 1, in.size, f) != in.size) {
      if (f) fclose(f);
      *why = "cannot read " + in.hostPath;
      return false;
    }
    fclose(f);
    at += in.size;
  }
  return true;
}

// ---- ours ----

struct PackResult {
  uint64_t fileBytes = 0;
  double seconds = 0;
  bool ok = false;
};

// Writes the archive of the corpus at `level` to `path`, feeding the writer
// as `pack` does: the look-ahead first, then pieces of 1 MB.
PackResult packCorpus(const Corpus& c, const uint8_t* stub, int level, const std::string& path) {
  PackResult r;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return r;
  ArchiveWriter* w = newArchiveWriter();
  ArchiveSettings settings;
  settings.stub = stub;
  settings.level = level;
  const double start = now();
  bool ok = beginArchive(w, fd, settings);
  for (const FileData& f : c.items) {
    if (!ok) break;
    if (f.in.folder) {
      addFolderEntry(w, f.in.name);
      continue;
    }
    const uint32_t size = (uint32_t)f.in.size;
    const uint8_t* p = c.bytes.data() + f.offset;
    const uint32_t head = size < kEntryLookahead ? size : kEntryLookahead;
    beginFileEntry(w, f.in.name, f.in.times, size, p);
    for (uint32_t at = head; at < size;) {
      const uint32_t n = std::min<uint32_t>(1u << 20, size - at);
      feedFileEntry(w, p + at, n);
      at += n;
    }
    endFileEntry(w);
    ok = archiveWriterOk(w);
  }
  uint64_t total = 0;
  ok = ok && finishArchive(w, &total);
  r.seconds = now() - start;
  freeArchiveWriter(w);
  close(fd);
  r.fileBytes = total;
  r.ok = ok;
  return r;
}

// Tree states seen at the end of decoded files: the counts and ranks that
// the next build would start from, for timing the build on real inputs.
std::vector<CodeTree>* treeSamples;

// Reads the archive at `path` as `vellicor test` does. Returns "" when every
// entry decoded to its size and every file's head matches the corpus.
std::string testArchive(const Corpus& c, const std::string& path, double* seconds) {
  scripted::resetRun();
  RunState* run = 0;
  EntryHeader h = {};
  std::string problem;
  const double start = now();
  try {
    bind(&app.archiveFile, path.c_str());
    openForReading(&app.archiveFile);
    if (takeIoError()) failRead();
    if (readStubImageAndSize()) failRead();
    ByteString text = {};
    readHeaderString(&text);
    bsRelease(&text);
    readHeaderString(&app.launchFile);
    readPasswordFields();
    run = beginRun();
    size_t next = 0;
    while (!app.endOfArchive && problem.empty()) {
      readNextEntry(run, ".\\", &h);
      if (next >= c.items.size() || c.items[next].in.folder != h.isFolder) {
        problem = "entry " + std::to_string(next) + " is not the one stored";
        break;
      }
      const FileData& f = c.items[next++];
      if (h.isFolder) continue;
      decodeFileEntry(run, &h, true);
      if (decoder->produced != (int64_t)h.fileSize - h.prefixLength || (uint64_t)h.fileSize != f.in.size) {
        problem = f.in.hostPath + ": wrong size";
        break;
      }
      const uint32_t head = std::min<uint32_t>((uint32_t)h.fileSize, kHeadSize);
      if (memcmp(run->ring.slots[run->ring.current].bytes, c.bytes.data() + f.offset, head) != 0) {
        problem = f.in.hostPath + ": wrong bytes";
        break;
      }
      if (treeSamples && treeSamples->size() < 200 && decoder->symbolCount >= 2048) {
        treeSamples->push_back(decoder->symbolTree);
        treeSamples->push_back(decoder->distanceTree);
      }
      advanceHeadRing(&run->ring);
    }
    if (problem.empty() && next != c.items.size()) problem = "entries missing";
  } catch (const scripted::Exit& e) {
    problem = "the core stopped with exit code " + std::to_string(e.code) +
              (scripted::boxes.empty() ? "" : " (message " + std::to_string((int)scripted::boxes.back().id) + ")");
  }
  *seconds = now() - start;
  if (run) endRun(run);
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  if (app.archiveFile.state == FileReading) close(&app.archiveFile);
  takeIoError();
  return problem;
}

// ---- zlib ----

struct ZResult {
  uint64_t bytes = 0;
  double seconds = 0;
};

ZResult zCompress(const std::vector<uint8_t>& in, int level, std::vector<uint8_t>* out) {
  uLongf n = compressBound(in.size());
  out->resize(n);
  const double start = now();
  const int rc = compress2(out->data(), &n, in.data(), in.size(), level);
  ZResult r;
  r.seconds = now() - start;
  r.bytes = rc == Z_OK ? n : 0;
  out->resize(rc == Z_OK ? n : 0);
  return r;
}

// Inflates into a 64 KB buffer that is thrown away; `check` (when given)
// gets the whole output for comparison.
bool zInflate(const std::vector<uint8_t>& z, uint64_t expected, double* seconds, std::vector<uint8_t>* check) {
  static uint8_t sink[1 << 16];
  z_stream s = {};
  if (inflateInit(&s) != Z_OK) return false;
  s.next_in = (Bytef*)z.data();
  s.avail_in = (uInt)z.size();
  uint64_t total = 0;
  int rc = Z_OK;
  const double start = now();
  while (rc == Z_OK) {
    s.next_out = sink;
    s.avail_out = sizeof sink;
    rc = inflate(&s, Z_NO_FLUSH);
    const size_t got = sizeof sink - s.avail_out;
    if (check) check->insert(check->end(), sink, sink + got);
    total += got;
  }
  *seconds = now() - start;
  inflateEnd(&s);
  return rc == Z_STREAM_END && total == expected;
}

// ---- tree builds ----

// Microseconds per build over the sampled tree states (each build starts
// from a fresh copy of the sample, as the decoder's next build would).
double buildMicros(const std::vector<CodeTree>& samples, void (*build)(CodeTree*)) {
  if (samples.empty()) return 0;
  static CodeTree work;
  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    const double start = now();
    for (const CodeTree& t : samples) {
      memcpy(work.counts, t.counts, sizeof work.counts);
      memcpy(work.rank, t.rank, sizeof work.rank);
      build(&work);
    }
    best = std::min(best, (now() - start) / (double)samples.size() * 1e6);
  }
  return best;
}

// ---- the decoder's code-tree rebuilds ----

// Every build the decoder makes is counted, and every 16th is kept (the tree
// as it stood, and its table bits), so that the builds can be timed apart:
// their share of the decode time is the mean time of the kept builds times
// the number of builds over the decode time.
struct KeptBuild {
  CodeTree tree;
  uint32_t tableBits;
};
struct TreeBuilds {
  uint64_t count = 0;
  std::vector<KeptBuild> kept;
};
TreeBuilds* treeBuilds;

void observeTreeBuild(const CodeTree* tree, uint32_t tableBits) {
  if (treeBuilds->count++ % 16 == 0 && treeBuilds->kept.size() < 4000) treeBuilds->kept.push_back({*tree, tableBits});
}

// Microseconds per build with its table, over the kept builds.
double keptBuildMicros(const TreeBuilds& builds) {
  if (builds.kept.empty()) return 0;
  static CodeTree work;
  static DecodeTable table;
  double total = 0;
  for (const KeptBuild& k : builds.kept) {
    work = k.tree;
    const double start = now();
    buildCodeTree(&work);
    fillDecodeTable(&work, &table, k.tableBits);
    total += now() - start;
  }
  return total / (double)builds.kept.size() * 1e6;
}

// ---- output ----

struct Row {
  std::string set;
  uint64_t bytes;
  uint32_t files;
  std::vector<double> ratio, speed;  // ours per level
  double decodeSpeed;
  double treeShare;     // of the decode time, in the code-tree rebuilds
  uint64_t treeBuilds;  // builds in one decode of the set
  double z9Ratio, z9Speed, z6Ratio, z6Speed, inflateSpeed;
  double buildUs, referenceBuildUs;
};

double mbps(uint64_t bytes, double seconds) { return seconds > 0 ? (double)bytes / 1e6 / seconds : 0; }

std::vector<uint8_t> loadStub() {
  std::vector<uint8_t> stub(kArchiveStubSize, 0);
#ifdef VELLICOR_BENCH_STUB
  FILE* f = fopen(VELLICOR_BENCH_STUB, "rb");
  if (f) {
    if (fread(stub.data(), 1, stub.size(), f) != stub.size()) std::fill(stub.begin(), stub.end(), 0);
    fclose(f);
  }
#endif
  return stub;
}

// The decoder next to zlib's inflate of the same data, and the share of its
// time that goes to rebuilding the code trees.
void printDecoderFigures(const std::vector<Row>& rows) {
  printf("\ndecoder: ours as `vellicor test` next to zlib inflate, same run; trees: code-tree builds (with their\n"
         "tables) in one decode, and their share of the decode time (every 16th build timed apart)\n\n");
  printf("%-7s | %8s %8s %8s | %8s %7s\n", "set", "dec MB/s", "inflate", "ours/z", "builds", "trees %");
  for (const Row& r : rows)
    printf("%-7s | %8.1f %8.1f %8.2f | %8llu %7.1f\n", r.set.c_str(), r.decodeSpeed, r.inflateSpeed,
           r.inflateSpeed > 0 ? r.decodeSpeed / r.inflateSpeed : 0.0, (unsigned long long)r.treeBuilds,
           100.0 * r.treeShare);
}

int usage() {
  fprintf(stderr, "usage: format_bench [--repeat N] [--levels L,L...] [--no-targets] DIR...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1;
  std::vector<int> levels = {kDefaultLevel, 1};
  bool targets = true;
  std::vector<std::string> dirs;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, atoi(argv[++i]));
    } else if (a == "--levels" && i + 1 < argc) {
      levels.clear();
      for (const char* p = argv[++i]; *p;) {
        int l = (int)strtol(p, (char**)&p, 10);
        if (l < kMinLevel || l > kMaxLevel) return usage();
        levels.push_back(l);
        if (*p == ',') ++p;
        else if (*p) return usage();
      }
    } else if (a == "--no-targets") {
      targets = false;
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else {
      dirs.push_back(a);
    }
  }
  if (dirs.empty() || levels.empty()) return usage();

  const std::vector<uint8_t> stub = loadStub();
  const bool realStub = std::any_of(stub.begin(), stub.end(), [](uint8_t b) { return b != 0; });
  char tmpl[] = "/tmp/format-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    perror("format_bench: mkdtemp");
    return 1;
  }
  const std::string archive = std::string(tmpl) + "/set.exe";
  std::vector<Row> rows;
  int failures = 0;
  std::vector<CodeTree> samples;

  for (const std::string& dir : dirs) {
    Corpus c;
    std::string why;
    if (!loadCorpus(dir, &c, &why)) {
      fprintf(stderr, "format_bench: %s: %s\n", dir.c_str(), why.c_str());
      ++failures;
      continue;
    }
    Row row = {};
    row.set = c.name;
    row.bytes = c.bytes.size();
    row.files = c.files;
    const uint64_t original = std::max<uint64_t>(1, c.bytes.size());

    for (size_t li = 0; li < levels.size(); ++li) {
      PackResult best;
      for (int k = 0; k < repeat; ++k) {
        PackResult r = packCorpus(c, stub.data(), levels[li], archive);
        if (!r.ok) {
          fprintf(stderr, "format_bench: %s: writing the archive at level %d failed\n", c.name.c_str(), levels[li]);
          ++failures;
          break;
        }
        if (k == 0 || r.seconds < best.seconds) best = r;
      }
      row.ratio.push_back((double)(best.fileBytes - kArchiveStubSize) / (double)original);
      row.speed.push_back(mbps(c.bytes.size(), best.seconds));
    }
    // The decoder reads the archive of the first level given.
    if (levels.size() > 1) packCorpus(c, stub.data(), levels[0], archive);
    double bestDecode = 1e30;
    TreeBuilds builds;
    for (int k = 0; k < repeat + 1; ++k) {
      // The first decode counts and keeps builds (and is not timed); the
      // others are timed.
      double seconds = 0;
      if (k == 0) samples.clear();
      treeSamples = k == 0 ? &samples : nullptr;
      treeBuilds = k == 0 ? &builds : nullptr;
      treeBuildObserver = k == 0 ? observeTreeBuild : nullptr;
      const std::string problem = testArchive(c, archive, &seconds);
      treeSamples = nullptr;
      treeBuildObserver = nullptr;
      if (!problem.empty()) {
        fprintf(stderr, "format_bench: %s: decoding failed: %s\n", c.name.c_str(), problem.c_str());
        ++failures;
        break;
      }
      if (k > 0) bestDecode = std::min(bestDecode, seconds);
    }
    row.decodeSpeed = mbps(c.bytes.size(), bestDecode);
    row.treeBuilds = builds.count;
    row.treeShare = bestDecode < 1e30 ? keptBuildMicros(builds) * 1e-6 * (double)builds.count / bestDecode : 0;
    row.buildUs = buildMicros(samples, buildCodeTree);
    row.referenceBuildUs = buildMicros(samples, buildCodeTreeReference);

    std::vector<uint8_t> z9, z6, back;
    double t9 = 1e30, t6 = 1e30, ti = 1e30;
    for (int k = 0; k < repeat; ++k) {
      t9 = std::min(t9, zCompress(c.bytes, 9, &z9).seconds);
      t6 = std::min(t6, zCompress(c.bytes, 6, &z6).seconds);
    }
    row.z9Ratio = (double)z9.size() / (double)original;
    row.z6Ratio = (double)z6.size() / (double)original;
    row.z9Speed = mbps(c.bytes.size(), t9);
    row.z6Speed = mbps(c.bytes.size(), t6);
    double seconds = 0;
    if (!zInflate(z9, c.bytes.size(), &seconds, &back) || back != c.bytes) {
      fprintf(stderr, "format_bench: %s: zlib round trip failed\n", c.name.c_str());
      ++failures;
    }
    for (int k = 0; k < repeat; ++k) {
      zInflate(z9, c.bytes.size(), &seconds, nullptr);
      ti = std::min(ti, seconds);
    }
    row.inflateSpeed = mbps(c.bytes.size(), ti);
    rows.push_back(row);
    fprintf(stderr, "format_bench: %s done\n", c.name.c_str());
  }
  unlink(archive.c_str());
  rmdir(tmpl);

  // The table.
  printf("\nformat_bench: best of %d; MB/s of original data; ratio = compressed / original\n", repeat);
  printf("ours: payload without the 26,112-byte stub (%s stub image as head context); zlib: one stream over\n"
         "the set's files concatenated in archive order; decode: ours as `vellicor test` (nothing written),\n"
         "zlib inflate into a 64 KB buffer; build: microseconds per code-tree build (the one this build uses,\n"
         "and the step-for-step reference) on tree states seen while decoding the set\n\n",
         realStub ? "this build's" : "a zero-filled");
  printf("%-7s %9s %5s |", "set", "MB", "files");
  for (int l : levels) printf(" L%d ratio %6s |", l, "MB/s");
  printf(" z9 ratio %6s | z6 ratio %6s | %-12s | dec MB/s %7s | build us %6s\n", "MB/s", "MB/s", "ours/z9 size",
         "inflate", "ref");
  for (const Row& r : rows) {
    printf("%-7s %9.2f %5u |", r.set.c_str(), (double)r.bytes / 1e6, r.files);
    for (size_t i = 0; i < r.ratio.size(); ++i) printf(" %8.3f %6.1f |", r.ratio[i], r.speed[i]);
    printf(" %8.3f %6.1f | %8.3f %6.1f | %12.3f | %8.1f %7.1f | %8.1f %6.1f\n", r.z9Ratio, r.z9Speed, r.z6Ratio,
           r.z6Speed, r.z9Ratio > 0 ? r.ratio[0] / r.z9Ratio : 0.0, r.decodeSpeed, r.inflateSpeed, r.buildUs,
           r.referenceBuildUs);
  }

  printDecoderFigures(rows);

  if (targets && !rows.empty()) {
    // Targets for the host build, chosen from the figures of this program on
    // the reference corpus (bench/README.md); small sets time too briefly
    // to judge, so only sets of 1 MB or more are held to them.
    const double kDecodeTarget = 0.6;  // x zlib inflate of the same data, read as `vellicor test` reads
    const double kRatioTarget = 1.10;  // default level: at most 10% larger than zlib -9
    const double kPackTarget = 5;      // MB/s at the default level
    printf("\ntargets (host, sets of 1 MB or more): decoder >= %.1f x zlib inflate; default level within %.0f%% of zlib -9's "
           "size (ours/z9 <= %.2f); default level >= %.0f MB/s\n",
           kDecodeTarget, (kRatioTarget - 1) * 100, kRatioTarget, kPackTarget);
    for (const Row& r : rows) {
      if (r.bytes < 1000000) continue;
      char missed[256] = "";
      const double versus = r.z9Ratio > 0 ? r.ratio[0] / r.z9Ratio : 0;
      if (r.decodeSpeed < kDecodeTarget * r.inflateSpeed)
        snprintf(missed + strlen(missed), sizeof missed - strlen(missed), " decoder %.2f x inflate;",
                 r.inflateSpeed > 0 ? r.decodeSpeed / r.inflateSpeed : 0.0);
      if (versus > kRatioTarget)
        snprintf(missed + strlen(missed), sizeof missed - strlen(missed), " size %.3f x zlib -9;", versus);
      if (r.speed[0] < kPackTarget)
        snprintf(missed + strlen(missed), sizeof missed - strlen(missed), " creator %.1f MB/s;", r.speed[0]);
      printf("  %-7s %s%s\n", r.set.c_str(), missed[0] ? "MISSED:" : "all met", missed);
    }
  }
  if (failures) printf("\n%d check(s) FAILED\n", failures);
  return failures ? 1 : 0;
}
