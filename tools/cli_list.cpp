// vellicor list: the header fields and every entry, as text or JSON.
#include <stdio.h>
#include <string.h>

#include <string>

#include "common/app_state.h"
#include "encode/stub_icon.h"
#include "tools/cli_archives.h"
#include "tools/cli_commands.h"
#include "tools/cli_open.h"
#include "tools/cli_options.h"
#include "tools/cli_select.h"
#include "tools/cli_text.h"
#include "tools/cli_ui.h"
#include "tools/cli_walk.h"
#include "tools/embedded_stub.h"

static std::string json;  // the JSON document, printed only when complete
static bool jsonFirstEntry;
static uint32_t files, folders;
static uint64_t totalBytes;

static void out(const std::string& utf8) {
  progressClear();
  fputs(showText(utf8).c_str(), stdout);
}

static const int kKindWidth = 8, kTimeWidth = 25;

static std::string kindOf(const EntryHeader* h) {
  return h->isFolder ? tr("folder", "フォルダ") : tr("file", "ファイル");
}

// Labels of the header lines, padded so that the values line up.
static std::string label(const char* english, const char* japanese) {
  return padRight(tr(english, japanese), cliJapanese() ? 14 : 11);
}

// Whether the archive begins with the stub this program embeds, or with it
// and another icon (pack --icon), or with another stub (pack --stub).
static StubKind archiveStubKind() {
  uint32_t size = 0;
  const uint8_t* ours = embeddedStub(&size);
  if (size != kStubSize) return StubOther;
  return compareStub(app.stubImage, ours, kStubSize);
}

static std::string stubText(StubKind kind) {
  switch (kind) {
    case StubOurs: return tr("this vellicor's", "この vellicor のもの");
    case StubOursOtherIcon: return tr("this vellicor's, with another icon", "この vellicor のもの（別のアイコン）");
    default: return tr("another (not this vellicor's)", "別のもの（この vellicor のものではありません）");
  }
}

static const char* stubJson(StubKind kind) {
  return kind == StubOurs ? "ours" : kind == StubOursOtherIcon ? "oursOtherIcon" : "other";
}

static void textHeader(const ArchiveInfo& info) {
  const size_t indent = cliJapanese() ? 14 : 11;
  const std::string none = tr("(none)", "（なし）");
  std::string signature;
  if (info.signatureBytes)
    signature = tr(", with a signature of ", "、うち署名 ") + groupedNumber(info.signatureBytes) + tr(" bytes", " バイト");
  out(label("Archive:", "アーカイブ:") + cli.archiveShown + " (" + groupedNumber(info.fileSize) +
      tr(" bytes", " バイト") + signature + ")\n");
  std::string comment = showCp932(bsText(&info.comment), info.comment.length, false, true);
  if (comment.empty()) comment = none;
  // Continuation lines of a comment line up under its first line.
  std::string indented;
  for (char c : comment) {
    indented += c;
    if (c == '\n') indented += std::string(indent, ' ');
  }
  out(label("Comment:", "コメント:") + indented + "\n");
  std::string launch = showCp932(bsText(&app.launchFile), app.launchFile.length, true);
  out(tr("Opens after extraction: ", "解凍後に開くファイル: ") + (launch.empty() ? none : launch) + "\n");
  out(label("Password:", "パスワード:") +
      (app.passwordProtected ? tr("yes", "あり") : tr("no", "なし")) + "\n");
  out(label("Stub:", "スタブ:") + stubText(archiveStubKind()) + "\n\n");
}

static void textTableHead() {
  out(padRight(tr("Kind", "種類"), kKindWidth) + " " + std::string(13 - displayWidth(tr("Size", "サイズ")), ' ') +
      tr("Size", "サイズ") + "  " + padRight(tr("Modified", "更新日時"), kTimeWidth) + "  " +
      padRight(tr("Accessed", "アクセス日時"), kTimeWidth) + "  " + padRight(tr("Created", "作成日時"), kTimeWidth) +
      "  " + tr("Name", "名前") + "\n");
}

static void textEntry(const EntryHeader* h) {
  std::string line = padRight(kindOf(h), kKindWidth) + " ";
  if (h->isFolder) {
    line += std::string(13, ' ') + "  " + std::string(3 * (kTimeWidth + 2), ' ');
  } else {
    char size[32];
    snprintf(size, sizeof size, "%13s", groupedNumber((uint64_t)h->fileSize).c_str());
    line += std::string(size) + "  " + padRight(isoLocalTime(h->lastWriteTime), kTimeWidth) + "  " +
            padRight(isoLocalTime(h->lastAccessTime), kTimeWidth) + "  " +
            padRight(isoLocalTime(h->creationTime), kTimeWidth) + "  ";
  }
  out(line + shownName(h) + "\n");
}

static std::string totalsText() {
  if (cliJapanese())
    return "ファイル " + groupedNumber(files) + " 個、フォルダ " + groupedNumber(folders) + " 個、合計 " +
           groupedNumber(totalBytes) + " バイト\n";
  return groupedNumber(files) + (files == 1 ? " file, " : " files, ") + groupedNumber(folders) +
         (folders == 1 ? " folder, " : " folders, ") + groupedNumber(totalBytes) + " bytes\n";
}

// A code page 932 string as two JSON members: the text (null when some byte
// has no character) and the stored bytes in hex.
// `shownLength` leaves out the "." that ends a folder entry's name; the hex
// form is the whole name as stored.
static std::string jsonCp932(const char* key, const char* bytes, uint32_t length, bool asPath,
                             uint32_t shownLength) {
  std::string utf8;
  std::string text = cp932ToUtf8(bytes, shownLength, asPath, &utf8) ? jsonString(utf8) : "null";
  return std::string("\"") + key + "\": " + text + ", \"" + key + "Hex\": \"" + hexBytes(bytes, length) + "\"";
}

static std::string jsonCp932(const char* key, const char* bytes, uint32_t length, bool asPath) {
  return jsonCp932(key, bytes, length, asPath, length);
}

static std::string jsonTime(const char* key, uint64_t filetime) {
  // FILETIME values pass 2^53, so they are given as strings to stay exact.
  return std::string("\"") + key + "\": \"" + isoLocalTime(filetime) + "\", \"" + key + "Filetime\": \"" +
         std::to_string(filetime) + "\"";
}

static void jsonEntry(const EntryHeader* h) {
  json += jsonFirstEntry ? "\n    " : ",\n    ";
  jsonFirstEntry = false;
  const uint32_t shownLength = h->entryName.length - (h->isFolder ? 1 : 0);
  json += "{\"kind\": \"" + std::string(h->isFolder ? "folder" : "file") + "\", " +
          jsonCp932("name", bsText(&h->entryName), h->entryName.length, true, shownLength);
  if (!h->isFolder) {
    json += ", \"size\": " + std::to_string(h->fileSize) + ", " + jsonTime("modified", h->lastWriteTime) + ", " +
            jsonTime("accessed", h->lastAccessTime) + ", " + jsonTime("created", h->creationTime) +
            ", \"back\": " + std::to_string(h->back) + ", \"prefixLength\": " + std::to_string(h->prefixLength);
  }
  json += "}";
}

static bool asJson;
static Selection selection;

static void seen(const EntryHeader* h) {
  if (!entrySelected(&selection, bsText(&h->entryName), h->entryName.length, h->isFolder)) return;
  if (h->isFolder) ++folders;
  else {
    ++files;
    totalBytes += (uint64_t)h->fileSize;
  }
  if (asJson) jsonEntry(h);
  else textEntry(h);
}

static const char* passwordFile;

// One archive; damage and the like end the process from inside.
static int listArchive(const char* archive) {
  files = folders = 0;
  totalBytes = 0;
  json.clear();
  resetSelectionCounts(&selection);
  ArchiveInfo info;
  openArchive(archive, &info);
  if (!asJson) textHeader(info);
  takePassword(passwordFile);

  if (asJson) {
    json = "{\n  \"size\": " + std::to_string(info.fileSize) +
           ",\n  \"signatureBytes\": " + std::to_string(info.signatureBytes) + ",\n  \"stub\": \"" +
           stubJson(archiveStubKind()) + "\",\n  " +
           jsonCp932("comment", bsText(&info.comment), info.comment.length, false) + ",\n  " +
           jsonCp932("launchFile", bsText(&app.launchFile), app.launchFile.length, false) + ",\n  \"password\": " +
           (app.passwordProtected ? "true" : "false") + ",\n  \"passwordMasked\": " +
           ((info.passwordFlags & 1) ? "true" : "false") + ",\n  \"entries\": [";
    jsonFirstEntry = true;
  } else {
    textTableHead();
  }
  walkEntries(seen, 0);

  if (asJson) {
    json += std::string(jsonFirstEntry ? "" : "\n  ") + "],\n  \"totals\": {\"files\": " + std::to_string(files) +
            ", \"folders\": " + std::to_string(folders) + ", \"bytes\": " + std::to_string(totalBytes) + "}\n}\n";
    fputs(json.c_str(), stdout);  // JSON is UTF-8 whatever the terminal takes
  } else {
    out("\n" + totalsText());
  }
  fflush(stdout);
  return reportUnmatched(&selection, cli.archiveShown) ? ExitUsage : ExitOk;
}

int cliList(int argc, char** argv) {
  CliOptions o;
  cliBegin(ModeList, false);
  if (!parseCliOptions(argc, argv, ModeList, &o)) return ExitUsage;
  if (o.help) {
    printCliUsage(ModeList, stdout);
    return ExitOk;
  }
  cliBegin(ModeList, o.quiet);
  asJson = o.json;
  passwordFile = o.passwordFile;
  std::vector<const char*> archives{o.archive}, names;
  splitOperands(o.operands, &archives, &names);
  if (!selectByNames(&selection, names)) return ExitUsage;
  if (archives.size() == 1) return listArchive(o.archive);
  return runEachArchive(archives, listArchive, asJson, "\n");
}
