// vellicor extract: the stub's extraction run (extractAll) on a terminal.
#include <stdio.h>
#include <string.h>

#include <string>

#include "common/app_state.h"
#include "archive/driver.h"
#include "platform/platform.h"
#include "tools/cli_commands.h"
#include "tools/cli_open.h"
#include "tools/cli_options.h"
#include "tools/cli_text.h"
#include "tools/cli_ui.h"
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

  ArchiveInfo info;
  openArchive(o.archive, &info);
  takePassword(o.passwordFile);  // a wrong password ends here, before anything is made
  enterTarget(o.outputDir);
  if (interruptSignal) cliFail(ExitInterrupted, tr("interrupted.", "中断しました。"));

  bsAssign(&app.targetFolder, ".\\", 2);
  cli.phase = PhaseRecord;
  extractAll(bsText(&app.targetFolder));
  progressClear();

  if (interruptSignal) {
    std::string text = tr("interrupted", "中断しました");
    if (cli.writing && currentFileGone()) {
      if (cli.filesExtracted) --cli.filesExtracted;
      text += tr("; the partly extracted file ", "。途中まで解凍したファイル") + quoted(cli.currentShown) +
              tr(" was removed", "は削除しました");
    }
    const uint32_t n = cli.filesExtracted;
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

  if (!o.quiet) {
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
  return ExitOk;
}
