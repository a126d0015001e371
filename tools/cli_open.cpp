#include "tools/cli_open.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "common/app_state.h"
#include "archive/header.h"
#include "fileio/block_file.h"
#include "fileio/fatal.h"
#include "tools/cli_text.h"
#include "tools/cli_ui.h"
#include "platform/host/host_files.h"
#include "tools/system.h"

static std::string quoted(const std::string& s) { return tr("\"", "「") + s + tr("\"", "」"); }

static std::string archiveIs() { return quoted(cli.archiveShown); }

void openArchive(const char* path, ArchiveInfo* info) {
  cli.archiveShown = path;
  cli.phase = PhaseOpen;
  FileHandle handle;
  bool regular;
  if (!sysOpenArchive(path, &handle, &info->fileSize, &regular))
    cliFail(ExitIo, tr("cannot open ", "") + archiveIs() + tr(": ", "を開けません: ") + sysErrorText(sysLastError()) +
                        tr(".", "。"));
  if (!regular) cliFail(ExitIo, archiveIs() + tr(" is not a regular file.", "は通常のファイルではありません。"));
  if (info->fileSize < kStubSize)
    cliFail(ExitDamaged, archiveIs() +
                             tr(" is not a self-extracting archive: it is shorter than the 26,112-byte extractor.",
                                "は自己解凍アーカイブではありません（26,112 バイトの解凍プログラムより短いファイルです）。"));
  if (info->fileSize == kStubSize)
    cliFail(ExitDamaged, archiveIs() + tr(" is the extractor program alone: no archive is attached to it.",
                                          "は解凍プログラムだけで、アーカイブが付いていません。"));

  // The archive file is a host path; it is handed to the file layer open.
  bind(&app.archiveFile, "archive");
  app.archiveFile.handle = handle;
  app.archiveFile.state = FileReading;
  hostReadAhead(app.archiveFile.handle);

  const uint32_t readFailure = readStubImageAndSize();
  if (readFailure == kIoShortRead)
    cliFail(ExitDamaged, archiveIs() + tr(" is damaged: its header is cut short.", "は壊れています: ヘッダーが途中で切れています。"));
  if (readFailure)
    cliFail(ExitIo, tr("cannot read ", "") + archiveIs() + tr(": ", "を読み込めません: ") + sysErrorText(readFailure) +
                        tr(".", "。"));

  // A signed file (its certificate table right behind the archive) is
  // measured without the table; the core set its logical end. Any larger
  // file is compared whole.
  uint64_t archiveSize = info->fileSize;
  if (app.archiveFile.logicalEnd && info->fileSize <= 0xFFFFFFFFu) archiveSize = app.archiveFile.logicalEnd;
  info->signatureBytes = info->fileSize - archiveSize;
  if (app.expectedSize < 0 || archiveSize < (uint64_t)app.expectedSize)
    cliFail(ExitDamaged,
            archiveIs() + tr(" is damaged: it is smaller than when it was made (" + groupedNumber(info->fileSize) +
                                 " bytes instead of " + groupedNumber((uint32_t)app.expectedSize) +
                                 "); perhaps it was not copied or downloaded completely.",
                             "は壊れています: 作成時より小さくなっています（" + groupedNumber(info->fileSize) +
                                 " バイト、本来は " + groupedNumber((uint32_t)app.expectedSize) +
                                 " バイト）。コピーやダウンロードが途中で終わった可能性があります。"));
  if (archiveSize > (uint64_t)app.expectedSize)
    cliFail(ExitDamaged,
            archiveIs() + tr(" is damaged: it is larger than when it was made (" + groupedNumber(info->fileSize) +
                                 " bytes instead of " + groupedNumber((uint32_t)app.expectedSize) +
                                 "); something was added to it, possibly a virus.",
                             "は壊れています: 作成時より大きくなっています（" + groupedNumber(info->fileSize) +
                                 " バイト、本来は " + groupedNumber((uint32_t)app.expectedSize) +
                                 " バイト）。ウイルスに感染している可能性があります。"));

  cli.phase = PhaseHeader;
  info->comment = ByteString{};
  readHeaderString(&info->comment);
  readHeaderString(&app.launchFile);
  info->passwordFlags = readPasswordFields();
  // Where the block stream begins, for the progress figures. A failing
  // query here is a failing archive: reported as its read failure.
  uint32_t position = 0;
  if (!pfFilePosition(handle, &position)) {
    pendingIoError = pfLastError();
    failRead();
  }
  info->headerEnd = position;

  // Data bytes of the block stream: every 4,098 stored bytes hold 4,096.
  const uint64_t stored = archiveSize - info->headerEnd;
  const uint64_t blocks = (stored + kBlockBytes - 1) / kBlockBytes;
  cli.streamDataBytes = stored > 2 * blocks ? stored - 2 * blocks : 0;
  cli.phase = PhaseRecord;
}

// Reads a line from the terminal without showing what is typed.
static bool promptHidden(const std::string& prompt, std::string* typed) {
  progressClear();
  const bool got = sysReadLine(showText(prompt), true, typed);
  if (interruptSignal) fputc('\n', stderr);
  return got;
}

static bool accept(const std::string& typed) {
  const std::string key = typedToCp932(typed);
  if (!passwordAccepted(key.data(), (uint32_t)key.size())) return false;
  bsAssign(&app.key, key.data(), (uint32_t)key.size());
  app.crcRegister = 0;  // the check used the register; blocks start afresh
  return true;
}

static const char* wrongPassword() { return tr("wrong password", "パスワードが違います"); }

void takePassword(const char* passwordFile) {
  if (!app.passwordProtected) return;
  const std::string needs = archiveIs() + tr(" is protected by a password", "はパスワードで保護されています");

  if (passwordFile) {
    std::string line;
    if (!sysReadWholeFile(passwordFile, &line))
      cliFail(ExitIo, tr("cannot read the password file ", "パスワードファイル") + quoted(passwordFile) +
                          tr(": ", "を読み込めません: ") + sysErrorText(sysLastError()) + tr(".", "。"));
    line.erase(std::min(line.find('\n'), line.size()));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!accept(line))
      cliFail(ExitPassword, needs + tr(", and the password in ", "。パスワードファイル") + quoted(passwordFile) +
                                tr(" is wrong.", "のパスワードが違います。"));
    return;
  }

  std::string env;
  if (sysEnvironment("VELLICOR_PASSWORD", &env)) {
    if (!accept(env))
      cliFail(ExitPassword, needs + tr(", and the password in VELLICOR_PASSWORD is wrong.",
                                       "。環境変数 VELLICOR_PASSWORD のパスワードが違います。"));
    return;
  }

  if (!cli.interactive)
    cliFail(ExitPassword, needs + tr(". Give it with --password-file FILE or the VELLICOR_PASSWORD environment "
                                     "variable, or run on a terminal to type it.",
                                     "。--password-file ファイル か環境変数 VELLICOR_PASSWORD で指定するか、"
                                     "端末から実行して入力してください。"));

  for (int attempt = 0; attempt < 3; ++attempt) {
    std::string typed;
    const bool got = promptHidden(tr("Password for ", "") + quoted(cli.archiveShown) + tr(": ", "のパスワード: "), &typed);
    if (interruptSignal) cliFail(ExitInterrupted, tr("interrupted.", "中断しました。"));
    if (!got) break;
    if (accept(typed)) return;
    cliError(std::string(wrongPassword()) + tr(".", "。"));
  }
  cliFail(ExitPassword, needs + tr(", and no correct password was given.", "。正しいパスワードが入力されませんでした。"));
}
