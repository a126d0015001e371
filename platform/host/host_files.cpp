// The host side of the seam for files, folders, text stepping and memory.
// Names arrive as the stub would pass them to Win32: code page 932 with "\"
// separators. They are converted to UTF-8 with "/" before they reach POSIX.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/host/host_files.h"

static uint32_t lastError;

static bool fail() {
  lastError = errno ? (uint32_t)errno : 1u;
  return false;
}

const char* pfCharNext(const char* p) {
  const unsigned char c = (unsigned char)*p;
  if (!c) return p;
  const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return (lead && p[1]) ? p + 2 : p + 1;
}

bool hostPath(const char* name, std::string* out) {
  std::string slashed;
  for (const char* p = name; *p;) {
    const char* next = pfCharNext(p);
    if (next - p == 1 && *p == '\\') slashed += '/';
    else slashed.append(p, next - p);
    p = next;
  }
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == (iconv_t)-1) return false;
  out->assign(slashed.size() * 3 + 4, '\0');
  char* in = slashed.data();
  size_t inLeft = slashed.size();
  char* o = out->data();
  size_t outLeft = out->size();
  size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == (size_t)-1) {
    errno = EILSEQ;
    return false;
  }
  out->resize(out->size() - outLeft);
  return true;
}

// A file opened for reading is read ahead in pieces of 256 KB (one file at a
// time): the core reads the archive in blocks of 4,098 bytes and asks for
// the position and the size after each block, which would otherwise cost
// three system calls per block. Position and size answer as without it.
struct ReadAhead {
  int fd;            // -1: none
  uint32_t at, length;  // buffered bytes: data[at .. length) come next
  uint64_t end;      // the file position after the buffered bytes
  uint64_t size;     // the file's size, taken again at every refill
};
static const uint32_t kReadAheadSize = 256 * 1024;
static ReadAhead readAhead = {-1, 0, 0, 0, 0};
static uint8_t readAheadData[kReadAheadSize];

static bool refillReadAhead() {
  ssize_t n;
  do n = read(readAhead.fd, readAheadData, kReadAheadSize);
  while (n < 0 && errno == EINTR);
  if (n < 0) return fail();
  readAhead.at = 0;
  readAhead.length = (uint32_t)n;
  readAhead.end += (uint64_t)n;
  struct stat st;
  if (fstat(readAhead.fd, &st) != 0) return fail();
  readAhead.size = (uint64_t)st.st_size;
  return true;
}

void hostReadAhead(FileHandle h) {
  if (readAhead.fd < 0) readAhead = {(int)h, 0, 0, 0, 0};
}

FileHandle pfOpenFile(const char* name, bool forWriting) {
  std::string path;
  if (!hostPath(name, &path)) return fail(), kNoFile;
  int fd = forWriting ? open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                      : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(), kNoFile;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {  // a folder is no file to read
    close(fd);
    errno = EISDIR;
    return fail(), kNoFile;
  }
  if (!forWriting && readAhead.fd < 0) readAhead = {fd, 0, 0, 0, 0};
  return (FileHandle)fd;
}

bool pfReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* got) {
  uint32_t done = 0;
  if ((int)h == readAhead.fd) {
    while (done < count) {
      if (readAhead.at == readAhead.length) {
        if (!refillReadAhead()) return false;
        if (readAhead.length == 0) break;
      }
      uint32_t n = readAhead.length - readAhead.at;
      if (n > count - done) n = count - done;
      memcpy((char*)buffer + done, readAheadData + readAhead.at, n);
      readAhead.at += n;
      done += n;
    }
    *got = done;
    return true;
  }
  while (done < count) {
    ssize_t n = read((int)h, (char*)buffer + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail();
    if (n == 0) break;
    done += (uint32_t)n;
  }
  *got = done;
  return true;
}

bool pfWriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* put) {
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write((int)h, (const char*)buffer + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail();
    done += (uint32_t)n;
  }
  *put = done;
  return true;
}

bool pfFileSize(FileHandle h, uint32_t* size) {
  if ((int)h == readAhead.fd && readAhead.length) {
    *size = (uint32_t)readAhead.size;
    return true;
  }
  struct stat st;
  if (fstat((int)h, &st) != 0) return fail();
  *size = (uint32_t)st.st_size;
  return true;
}

bool pfFilePosition(FileHandle h, uint32_t* position) {
  if ((int)h == readAhead.fd) {
    *position = (uint32_t)(readAhead.end - (readAhead.length - readAhead.at));
    return true;
  }
  off_t p = lseek((int)h, 0, SEEK_CUR);
  if (p < 0) return fail();
  *position = (uint32_t)p;
  return true;
}

bool pfSeekFile(FileHandle h, uint32_t position) {
  if (lseek((int)h, (off_t)position, SEEK_SET) < 0) return fail();
  if ((int)h == readAhead.fd) {  // what was read ahead is dropped
    readAhead.at = readAhead.length = 0;
    readAhead.end = position;
  }
  return true;
}

bool pfCloseFile(FileHandle h) {
  if ((int)h == readAhead.fd) readAhead = {-1, 0, 0, 0, 0};
  return close((int)h) == 0 || fail();
}

bool pfDeleteFile(const char* name) {
  std::string path;
  if (!hostPath(name, &path)) return fail();
  return unlink(path.c_str()) == 0 || fail();
}

// FILETIME counts 100 ns from 1601-01-01; POSIX times count from 1970.
static const int64_t kEpochDifference = 116444736000000000LL;

static struct timespec toTimespec(uint64_t filetime) {
  int64_t ticks = (int64_t)(filetime & 0x7FFFFFFFFFFFFFFFULL) - kEpochDifference;
  int64_t seconds = ticks / 10000000;
  int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    seconds -= 1;
  }
  struct timespec ts;
  ts.tv_sec = (time_t)seconds;
  ts.tv_nsec = (long)(rest * 100);
  return ts;
}

bool pfSetFileTimes(FileHandle h, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite) {
  // POSIX keeps no settable creation time; access and write times are set.
  struct timespec times[2] = {toTimespec(lastAccess), toTimespec(lastWrite)};
  if (futimens((int)h, times) == 0) return true;
  // A time the file system cannot hold (before 1970 or far ahead on some
  // systems) is no reason to lose the file: the time is left as it is.
  if (errno == EINVAL || errno == EOVERFLOW || errno == ERANGE) return true;
  return fail();
}

uint32_t pfLastError() { return lastError; }

uint32_t pfProbe(const char* name) {
  std::string path;
  if (!hostPath(name, &path)) return kProbeNothing;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return kProbeNothing;
  return S_ISDIR(st.st_mode) ? kAttrDirectory : 0x20u;
}

// File names stop at 259 bytes in the file layer, as on Windows; folders
// made here stop there too, so that a folder the stub could not make is
// not made on this side either.
static const size_t kLongestFolderName = 259;

bool pfCreateDirectory(const char* name) {
  if (strlen(name) > kLongestFolderName) {
    errno = ENAMETOOLONG;
    return fail();
  }
  std::string path;
  if (!hostPath(name, &path)) return fail();
  return mkdir(path.c_str(), 0777) == 0 || fail();
}

void* pfAlloc(uint32_t size) { return malloc(size); }
void* pfRealloc(void* block, uint32_t size) { return realloc(block, size); }
void pfFree(void* block) { free(block); }
