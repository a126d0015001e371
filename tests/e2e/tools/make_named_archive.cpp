// Writes a self-extracting file whose entries carry exactly the names given,
// through the encoder's archive writer. `vellicor pack` refuses names that
// could leave the target folder; the end-to-end cases need such archives to
// show that the stub refuses them too.
//
//   make_named_archive STUB OUT.exe NAME TEXT [NAME TEXT]...
//
// Each NAME is stored byte for byte as a file entry holding TEXT; a NAME
// ending in "\." is a folder entry (its TEXT is ignored).
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "encode/archive_writer.h"

int main(int argc, char** argv) {
  if (argc < 5 || (argc - 3) % 2) {
    fprintf(stderr, "usage: make_named_archive STUB OUT.exe NAME TEXT [NAME TEXT]...\n");
    return 2;
  }
  std::vector<uint8_t> stub(kArchiveStubSize + 1);
  FILE* f = fopen(argv[1], "rb");
  if (!f || fread(stub.data(), 1, stub.size(), f) != kArchiveStubSize) {
    fprintf(stderr, "make_named_archive: %s is not a %u-byte stub\n", argv[1], kArchiveStubSize);
    return 1;
  }
  fclose(f);
  const int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror(argv[2]);
    return 1;
  }
  ArchiveWriter* w = newArchiveWriter();
  ArchiveSettings settings;
  settings.stub = stub.data();
  bool ok = beginArchive(w, fd, settings);
  const FileTimes times = {132223104000000000ull, 132223104000000000ull, 132223104000000000ull};  // 2020-01-01
  for (int i = 3; ok && i + 1 < argc; i += 2) {
    const std::string name = argv[i], text = argv[i + 1];
    if (name.size() >= 2 && name.compare(name.size() - 2, 2, "\\.") == 0) {
      addFolderEntry(w, name.substr(0, name.size() - 2));
    } else {
      beginFileEntry(w, name, times, (uint32_t)text.size(), (const uint8_t*)text.data());
      endFileEntry(w);
    }
    ok = archiveWriterOk(w);
  }
  uint64_t total = 0;
  ok = ok && finishArchive(w, &total);
  freeArchiveWriter(w);
  if (close(fd) != 0 || !ok) {
    fprintf(stderr, "make_named_archive: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
