#include "tools/cli_options.h"

#include <string.h>

#include <string>

#include "tools/cli_text.h"

static void put(FILE* out, const char* english, const char* japanese) {
  fputs(showText(tr(english, japanese)).c_str(), out);
}

void printCliExitCodes(FILE* out) {
  put(out,
      "Exit codes of list, test and extract:\n"
      "  0  success (test: every entry is intact)\n"
      "  1  the command line is wrong, a NAME selects no entry, or extract -c would write\n"
      "     to a terminal\n"
      "  2  the archive is damaged, cut short, or not a self-extracting archive\n"
      "  3  the password is wrong, or the archive needs one and none was given\n"
      "  4  a file or folder could not be read, written or created\n"
      "  5  extract: an existing file was not replaced and the extraction stopped\n"
      "  6  interrupted (Ctrl-C); a partly extracted file is removed\n"
      "With several archives (list, test) each is handled in turn, and the exit code is\n"
      "the highest of theirs.\n",
      "list・test・extract の終了コード:\n"
      "  0  成功（test: すべてのエントリが正常）\n"
      "  1  コマンドラインの誤り、エントリを 1 つも選ばない名前、または extract -c の出力先が端末\n"
      "  2  アーカイブが壊れている・途中で切れている・自己解凍アーカイブではない\n"
      "  3  パスワードが違う、または必要なパスワードが指定されていない\n"
      "  4  ファイルやフォルダを読めない・書けない・作れない\n"
      "  5  extract: 既存のファイルを上書きせず、解凍を中止した\n"
      "  6  中断（Ctrl-C）。途中まで解凍したファイルは削除されます\n"
      "複数のアーカイブ（list・test）は 1 つずつ処理し、終了コードはそのうち最も大きいものです。\n");
}

void printCliNamesHelp(FILE* out) {
  put(out,
      "Names and patterns (NAME):\n"
      "  A NAME is an entry's name as list shows it (docs/a.txt) or a pattern, matched\n"
      "  against the whole stored name of every entry:\n"
      "    *      any characters, \"/\" included: '*.txt' takes the .txt files of every folder\n"
      "    ?      one character other than \"/\"\n"
      "    [a-z]  one character of a set or range; [!a-z] one outside it\n"
      "  A NAME that matches a folder selects everything below it. \"/\" and \"\\\" both\n"
      "  separate folders; letter case counts. Quote patterns, so that the shell leaves\n"
      "  them alone. A NAME that selects nothing is an error (exit code 1), reported after\n"
      "  the rest is done. Entries that are not selected are still read and decoded, since\n"
      "  later files may be built on them, but they are neither shown nor written.\n\n",
      "名前とパターン（名前）:\n"
      "  名前は list が表示するエントリ名（docs/a.txt）またはパターンで、各エントリの保存された\n"
      "  名前全体と照合します:\n"
      "    *      任意の文字列（\"/\" も含む）。'*.txt' はすべてのフォルダの .txt ファイル\n"
      "    ?      \"/\" 以外の任意の 1 文字\n"
      "    [a-z]  集合・範囲のうちの 1 文字。[!a-z] はそれ以外の 1 文字\n"
      "  フォルダに一致した名前はその下のすべてを選びます。\"/\" と \"\\\" はどちらもフォルダの\n"
      "  区切りです。大文字と小文字は区別します。シェルに展開されないようにパターンは引用符で\n"
      "  囲んでください。何も選ばない名前は、ほかの処理を終えたあとでエラー（終了コード 1）として\n"
      "  報告します。選ばれなかったエントリも、後のファイルがそれを元にしている場合があるため\n"
      "  読み込んで展開しますが、表示も書き込みもしません。\n\n");
}

static void printPasswordHelp(FILE* out) {
  put(out,
      "  --password-file FILE  read the password from the first line of FILE; without it the\n"
      "                        password comes from the environment variable VELLICOR_PASSWORD,\n"
      "                        else it is asked for on the terminal (not shown while typed)\n",
      "  --password-file ファイル  パスワードをファイルの 1 行目から読みます。指定がなければ\n"
      "                        環境変数 VELLICOR_PASSWORD から、それもなければ端末で尋ねます\n"
      "                        （入力は表示されません）\n");
}

void printCliUsage(CliMode mode, FILE* out) {
  switch (mode) {
    case ModeList:
      put(out,
          "Usage: vellicor list [options] ARCHIVE... [NAME...]\n"
          "Shows each entry of a self-extracting file (kind, size, the three stored times in the\n"
          "local time zone, name), the archive's comment, the file it opens after extraction,\n"
          "whether it has a password, and totals. Listing decodes every file without writing,\n"
          "so a password-protected archive needs its password. With NAMEs, only the entries\n"
          "they select are shown and counted.\n"
          "Every operand after the first that names a Windows program file (one that begins\n"
          "with \"MZ\", as every self-extracting file does) is another archive; the others are\n"
          "NAMEs, applied to each archive.\n\n"
          "Options:\n"
          "  --json                print one JSON document instead (names also as code page 932 hex);\n"
          "                        with several archives, one JSON array of them\n"
          "  -q, --quiet           no progress line\n",
          "使い方: vellicor list [オプション] アーカイブ... [名前...]\n"
          "自己解凍ファイルの各エントリ（種類・サイズ・保存された 3 つの日時（現地時刻）・名前）と、\n"
          "コメント、解凍後に開くファイル、パスワードの有無、合計を表示します。一覧の作成には\n"
          "全ファイルの展開（書き込みなし）が必要なため、パスワード付きのアーカイブには\n"
          "パスワードが要ります。名前を指定すると、それが選ぶエントリだけを表示・集計します。\n"
          "2 つ目以降の引数のうち Windows のプログラムファイル（自己解凍ファイルと同じく \"MZ\" で\n"
          "始まるファイル）を指すものは別のアーカイブ、それ以外は各アーカイブに適用する名前です。\n\n"
          "オプション:\n"
          "  --json                JSON で出力します（名前はコードページ 932 の 16 進でも出力）。\n"
          "                        複数のアーカイブでは、それらの JSON 配列を出力します\n"
          "  -q, --quiet           進行状況を表示しません\n");
      printPasswordHelp(out);
      break;
    case ModeTest:
      put(out,
          "Usage: vellicor test [options] ARCHIVE... [NAME...]\n"
          "Reads and decodes every entry without writing anything, verifies every block check\n"
          "and every size, and names the entry where damage is found. With NAMEs, only the\n"
          "entries they select are reported and counted (all are still checked). Several\n"
          "archives are taken as list takes them.\n\n"
          "Options:\n"
          "  -v, --verbose         print each entry as it is verified\n"
          "  -q, --quiet           no progress line and no summary (the exit code tells)\n",
          "使い方: vellicor test [オプション] アーカイブ... [名前...]\n"
          "何も書き込まずに全エントリを読んで展開し、すべてのブロック検査値とサイズを確かめ、\n"
          "壊れている箇所のエントリ名を示します。名前を指定すると、それが選ぶエントリだけを\n"
          "表示・集計します（検査はすべてに行います）。複数のアーカイブの指定は list と同じです。\n\n"
          "オプション:\n"
          "  -v, --verbose         確認したエントリを 1 つずつ表示します\n"
          "  -q, --quiet           進行状況も結果の要約も表示しません（終了コードで判断）\n");
      printPasswordHelp(out);
      break;
    case ModeExtract:
      put(out,
          "Usage: vellicor extract [options] ARCHIVE [NAME...]\n"
          "Extracts every folder and file with its stored times, as the self-extracting file\n"
          "itself does on Windows; with NAMEs, only the entries they select, with the folders\n"
          "above a selected file made as needed. Entry names that would lead outside the\n"
          "target folder are refused (the archive is reported damaged). A file that is\n"
          "interrupted or fails part-way is removed; files finished before it are kept.\n"
          "Files get their stored last-write and last-access times, and on Windows their\n"
          "creation time (POSIX systems keep none that can be set).\n\n"
          "Options:\n"
          "  -o, --output DIR      extract into DIR (created when missing); default: the current folder\n"
          "  --overwrite=POLICY    what to do with files that already exist:\n"
          "                          ask   ask for each one (the default on a terminal)\n"
          "                          all   replace them\n"
          "                          none  keep them and skip those entries\n"
          "                        Without a terminal and without a policy, the first existing file\n"
          "                        stops the extraction (exit code 5).\n"
          "  -c, --stdout          write the selected files' bytes one after another to standard\n"
          "                        output, and nothing else there (notes go to standard error);\n"
          "                        no file or folder is made. Refused when standard output is a\n"
          "                        terminal.\n"
          "  -q, --quiet           no progress line and no summary\n",
          "使い方: vellicor extract [オプション] アーカイブ [名前...]\n"
          "すべてのフォルダとファイルを保存された日時とともに解凍します（Windows 上で自己解凍ファイル\n"
          "自身が行うのと同じ結果）。名前を指定すると、それが選ぶエントリだけを解凍し、選んだ\n"
          "ファイルの上のフォルダは必要に応じて作ります。解凍先フォルダの外を指す名前は拒否し、\n"
          "アーカイブは壊れているものとして報告します。中断や失敗で途中までになったファイルは削除し、\n"
          "それ以前に解凍を終えたファイルは残します。ファイルには保存された更新日時とアクセス日時を\n"
          "設定し、Windows では作成日時も設定します（POSIX のシステムには設定できる作成日時が\n"
          "ありません）。\n\n"
          "オプション:\n"
          "  -o, --output フォルダ  解凍先（なければ作ります）。既定は現在のフォルダ\n"
          "  --overwrite=方針      すでにあるファイルの扱い:\n"
          "                          ask   1 つずつ尋ねる（端末での既定）\n"
          "                          all   すべて上書きする\n"
          "                          none  上書きせずにそのエントリをスキップする\n"
          "                        端末がなく方針の指定もない場合は、最初の既存ファイルで解凍を\n"
          "                        中止します（終了コード 5）。\n"
          "  -c, --stdout          選んだファイルの内容を順に標準出力へ書き、ほかには何も書きません\n"
          "                        （メッセージは標準エラー出力へ）。ファイルもフォルダも作りません。\n"
          "                        標準出力が端末のときは拒否します。\n"
          "  -q, --quiet           進行状況も結果の要約も表示しません\n");
      printPasswordHelp(out);
      break;
  }
  put(out, "  -h, --help            show this help\n\n", "  -h, --help            このヘルプを表示します\n\n");
  printCliNamesHelp(out);
  printCliExitCodes(out);
}

static const char* commandName(CliMode mode) {
  return mode == ModeList ? "list" : mode == ModeTest ? "test" : "extract";
}

static bool wrong(CliMode mode, const std::string& why) {
  cliError(why + tr(" (see 'vellicor ", "（'vellicor ") + commandName(mode) + tr(" --help')", " --help' を参照）"));
  return false;
}

// "--name=value", "--name value", and for short options "-ovalue", "-o value".
static bool takeValue(int argc, char** argv, int* i, const char* longName, const char* shortName,
                      const char** value) {
  const char* a = argv[*i];
  const size_t n = strlen(longName);
  if (!strncmp(a, longName, n) && a[n] == '=') {
    *value = a + n + 1;
    return true;
  }
  const bool exact = !strcmp(a, longName) || (shortName && !strcmp(a, shortName));
  if (exact) {
    *value = *i + 1 < argc ? argv[++*i] : 0;
    return true;
  }
  if (shortName && !strncmp(a, shortName, 2) && a[2]) {
    *value = a + 2;
    return true;
  }
  return false;
}

bool parseCliOptions(int argc, char** argv, CliMode mode, CliOptions* o) {
  *o = CliOptions{};
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* value = 0;
    if (optionsEnd || a[0] != '-' || !a[1]) {
      if (o->archive) o->operands.push_back(a);
      else o->archive = a;
    } else if (!strcmp(a, "--")) {
      optionsEnd = true;
    } else if (!strcmp(a, "-h") || !strcmp(a, "--help")) {
      o->help = true;
    } else if (!strcmp(a, "-q") || !strcmp(a, "--quiet")) {
      o->quiet = true;
    } else if (mode == ModeList && !strcmp(a, "--json")) {
      o->json = true;
    } else if (mode == ModeExtract && (!strcmp(a, "-c") || !strcmp(a, "--stdout"))) {
      o->toStdout = true;
    } else if (mode == ModeTest && (!strcmp(a, "-v") || !strcmp(a, "--verbose"))) {
      o->verbose = true;
    } else if (takeValue(argc, argv, &i, "--password-file", 0, &value)) {
      if (!value || !*value) return wrong(mode, tr("--password-file needs a file name", "--password-file にはファイル名が必要です"));
      o->passwordFile = value;
    } else if (mode == ModeExtract && takeValue(argc, argv, &i, "--output", "-o", &value)) {
      if (!value || !*value) return wrong(mode, tr("-o needs a folder", "-o にはフォルダが必要です"));
      o->outputDir = value;
    } else if (mode == ModeExtract && takeValue(argc, argv, &i, "--overwrite", 0, &value)) {
      if (!value) return wrong(mode, tr("--overwrite needs ask, all or none", "--overwrite には ask・all・none のいずれかが必要です"));
      if (!strcmp(value, "ask")) o->overwrite = OverwriteAsk;
      else if (!strcmp(value, "all")) o->overwrite = OverwriteAll;
      else if (!strcmp(value, "none")) o->overwrite = OverwriteNone;
      else return wrong(mode, tr("--overwrite takes ask, all or none, not ", "--overwrite には ask・all・none のいずれかを指定してください: ") + std::string(value));
      o->overwriteGiven = true;
    } else {
      return wrong(mode, tr("unknown option ", "不明なオプション ") + std::string(a));
    }
  }
  if (o->help) return true;
  if (!o->archive) return wrong(mode, tr("no archive given", "アーカイブが指定されていません"));
  if (o->toStdout && o->outputDir)
    return wrong(mode, tr("-c writes to standard output; it takes no -o folder",
                          "-c は標準出力に書くため、-o のフォルダとは併用できません"));
  if (o->toStdout && o->overwriteGiven)
    return wrong(mode, tr("-c replaces no files; it takes no --overwrite",
                          "-c はファイルを上書きしないため、--overwrite とは併用できません"));
  return true;
}
