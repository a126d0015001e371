// vellicor extract: the stub's extraction run (extractAll) on a terminal;
// with NAMEs or -c, the same run over the selected entries (extractSelected).
#include <stdio.h>
#include <string.h>

#include <string>

#include "common/app_state.h"
#include "archive/driver.h"
#include "platform/platform.h"
#include "tools/cli_archives.h"
#include "tools/cli_commands.h"
#include "tools/cli_open.h"
#include "tools/cli_options.h"
#include "tools/cli_text.h"
#include "tools/cli_ui.h"
#include "tools/extract_selected.h"
#include "tools/system.h"

static std::string quoted(const std::string& s) { return tr("\"", "「") + s + tr("\"", "」"); }

// Enters the target folder: the driver then works below ".\", so host paths
// never need to be turned into code page 932.
static void enterTarget(const char* dir) {
  if (!dir) return;
  cli.outputShown = dir;
  if (!sysMakeFolders(dir))
    cliFail(ExitIo, tr("cannot create the folder ", "フォルダ") + quoted(dir) + tr(": ", "を作れません: ") +
                        sysErrorText(sysLastError()) + tr(".", "。"));
  if (!sysEnterFolder(dir))
    cliFail(ExitIo, tr("cannot enter the folder ", "フォルダ") + quoted(dir) + tr(": ", "に移動できません: ") +
                        sysErrorText(sysLastError()) + tr(".", "。"));
}

static std::string targetShown() { return cli.outputShown.empty() ? std::string(".") : cli.outputShown; }

// After an interruption: was the file the driver was on removed?
static bool currentFileGone() {
  if (cli.currentCp932.empty()) return false;
  std::string full = ".\\" + cli.currentCp932;
  return pfProbe(full.c_str()) == kProbeNothing;
}

int cliExtract(int argc, char** argv) {
  CliOptions o;
  cliBegin(ModeExtract, false);
  if (!parseCliOptions(argc, argv, ModeExtract, &o)) return ExitUsage;
  if (o.help) {
    printCliUsage(ModeExtract, stdout);
    return ExitOk;
  }
  cliBegin(ModeExtract, o.quiet);
  if (o.overwriteGiven) cli.overwrite = o.overwrite;
  // Asking needs someone to answer; without a terminal it is refused.
  if (cli.overwrite == OverwriteAsk && !cli.interactive) cli.overwrite = OverwriteRefuse;
  Selection selection;
  if (!selectByNames(&selection, o.operands)) return ExitUsage;
  // Names that are archives on disk (looked at before -o moves elsewhere).
  std::vector<const char*> archivesNamed;
  for (const char* name : o.operands)
    if (looksLikeArchive(name)) archivesNamed.push_back(name);
  cli.toStdout = o.toStdout;
  if (cli.toStdout && sysIsTerminal(1))
    cliFail(ExitUsage, tr("-c writes the files' bytes to standard output, which is a terminal here; send it to "
                          "a file or a pipe instead.",
                          "-c はファイルの内容を標準出力に書きますが、標準出力が端末です。ファイルかパイプに"
                          "つないでください。"));

  ArchiveInfo info;
  openArchive(o.archive, &info);
  takePassword(o.passwordFile);  // a wrong password ends here, before anything is made
  if (!cli.toStdout) enterTarget(o.outputDir);
  if (interruptSignal) cliFail(ExitInterrupted, tr("interrupted.", "中断しました。"));

  bsAssign(&app.targetFolder, ".\\", 2);
  cli.phase = PhaseRecord;
  if (selectsEverything(&selection) && !cli.toStdout) extractAll(bsText(&app.targetFolder));
  else extractSelected(bsText(&app.targetFolder), &selection, cli.toStdout);
  progressClear();

  if (interruptSignal) {
    std::string text = tr("interrupted", "中断しました");
    if (cli.writing && !cli.toStdout && currentFileGone()) {
      if (cli.filesExtracted) --cli.filesExtracted;
      text += tr("; the partly extracted file ", "。途中まで解凍したファイル") + quoted(cli.currentShown) +
              tr(" was removed", "は削除しました");
    }
    uint32_t n = cli.filesExtracted;
    if (cli.toStdout) {
      if (cli.writing && n) --n;
      cliFail(ExitInterrupted, text + (cliJapanese() ? "。標準出力に書き終えたファイルは " + groupedNumber(n) + " 個です。"
                                                     : "; " + groupedNumber(n) + (n == 1 ? " file was" : " files were") +
                                                           " written to standard output completely."));
    }
    text += cliJapanese() ? "。解凍を終えたファイル " + groupedNumber(n) + " 個は残っています。"
                          : "; " + groupedNumber(n) + (n == 1 ? " file was" : " files were") +
                                " extracted completely and " + (n == 1 ? "is" : "are") + " kept.";
    cliFail(ExitInterrupted, text);
  }
  if (app.cancelFlag) {
    if (cli.overwrite == OverwriteRefuse)
      cliFail(ExitOverwriteRefused,
              quoted(cli.stoppedPath) +
                  tr(" already exists, and there is no terminal to ask whether to replace it; the extraction "
                     "stopped there. Choose with --overwrite=all (replace existing files) or --overwrite=none "
                     "(keep them).",
                     "はすでに存在しますが、上書きするかを尋ねる端末がないため、そこで解凍を中止しました。"
                     "--overwrite=all（上書きする）か --overwrite=none（残す）を指定してください。"));
    cliFail(ExitOverwriteRefused, tr("the extraction stopped at ", "既存のファイル") + quoted(cli.stoppedPath) +
                                      tr(", which already exists.", "で解凍を中止しました。"));
  }

  if (!o.quiet && cli.toStdout) {
    const uint32_t n = cli.filesExtracted;
    cliNote(cliJapanese() ? "ファイル " + groupedNumber(n) + " 個の内容を標準出力に書きました。"
                          : "Wrote " + groupedNumber(n) + (n == 1 ? " file" : " files") + " to standard output.");
  } else if (!o.quiet) {
    std::string summary =
        cliJapanese()
            ? "ファイル " + groupedNumber(cli.filesExtracted) + " 個を" + quoted(targetShown()) + "に解凍しました"
            : "Extracted " + groupedNumber(cli.filesExtracted) + (cli.filesExtracted == 1 ? " file" : " files") +
                  " into " + quoted(targetShown());
    if (cli.filesSkipped)
      summary += cliJapanese() ? "（既存のファイル " + groupedNumber(cli.filesSkipped) + " 個はそのまま残しました）"
                               : " (" + groupedNumber(cli.filesSkipped) + " existing " +
                                     (cli.filesSkipped == 1 ? "file" : "files") + " kept)";
    summary += tr(".\n", "。\n");
    if (app.launchFile.length)
      summary += tr("The archive suggests opening ", "このアーカイブは解凍後に") +
                 quoted(showCp932(bsText(&app.launchFile), app.launchFile.length, true)) +
                 tr(" after extraction (not opened by this tool).\n", "を開くよう指定しています（このツールは開きません）。\n");
    fputs(showText(summary).c_str(), stdout);
  }
  fflush(stdout);
  if (!reportUnmatched(&selection, cli.archiveShown)) return ExitOk;
  for (const SelectPattern& p : selection.patterns)
    for (const char* name : archivesNamed)
      if (!p.matched && p.typed == name)
        cliError(std::string(tr("extract takes one archive at a time; \"", "extract が扱うアーカイブは 1 回に 1 つです。「")) +
                 name + tr("\" was taken as a name to select.", "」は選ぶエントリの名前として扱いました。"));
  return ExitUsage;
}
