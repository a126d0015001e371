// The process-wide state of the stub: the windows of the shell, the header
// fields, the two files and the block stream reader. One global record that
// lives for the whole process; the host programs use the same record for the
// parts they share (files, header fields, reader, cancel flag).
#pragma once
#include <stdint.h>
#include "fileio/block_file.h"
#include "fileio/byte_string.h"

typedef void* WindowRef;

static const uint32_t kStubSize = 26112;     // the payload starts here
static const uint32_t kHeadSize = 16384;     // head slot 0 = the stub's first bytes
static const uint32_t kBlockData = 4096;     // data bytes of every block but the last
static const uint32_t kBlockBytes = kBlockData + 2;

struct AppState {
  // Windows (Win32 only; null on the host).
  WindowRef mainWindow, progressWindow;
  WindowRef messageLabel, passwordLabel, folderLabel;
  WindowRef extractButton, browseButton;
  WindowRef commentBox, passwordBox, folderBox;
  WindowRef progressText, cancelButton;
  int32_t charWidth, lineHeight;
  void* dialogFont;         // the font of every control (main_window.cpp)
  ByteString browseFolder;  // the system's UTF-16 form, as bytes

  // Set by the Extract command.
  ByteString targetFolder;  // always ends with a backslash
  ByteString key;           // the accepted password

  // 0 = go on, 1 = the user asked to stop. Written by window procedures that
  // run nested inside the extraction (or a signal handler on the host).
  volatile uint8_t cancelFlag;

  // Header fields.
  int32_t expectedSize;
  ByteString launchFile;
  bool passwordProtected;
  uint16_t passwordCheck;
  uint8_t stubImage[kStubSize];

  BlockFile archiveFile;
  BlockFile outputFile;

  // Block stream reader.
  uint8_t blockBuffer[kBlockBytes];
  uint32_t consumedCount;   // data bytes handed out since the stream began
  int32_t blockDataCount;   // data bytes in the current block
  uint32_t crcRegister;
  int32_t keyPos;
  bool endOfArchive;

  // Folder creation's memory of the run: the folder path of its last
  // successful walk (every folder along it was there then), and whether the
  // last walk took any folder from that memory instead of looking.
  ByteString walkedFolder;
  bool walkTrusted;
};

extern AppState app;
