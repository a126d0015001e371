// vellicor-maker.exe: the creator in a window, for Windows users. It gathers
// what `vellicor pack` takes on its command line (what to store, the
// comment, the file to open afterwards, the password, the level, the icon,
// the output file), collects the inputs as pack does and hands them to the
// same packing engine (encode/pack_run.h) on a worker thread, so that the
// same inputs and settings give the same archive bytes. Controls are made
// by hand in units of the system font on a window of the menu colour, as
// the stub's own dialog is.
//
//   vellicor-maker.exe [PATH...]          the window, with PATHs listed
//   vellicor-maker.exe /pack PATH...      packs at once into FIRST.exe beside
//                                         the first PATH; reports only failures
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>
#include <wchar.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "encode/pack_run.h"
#include "encode/stub_icon.h"
#include "platform/host_windows/wide_names.h"
#include "tools/embedded_stub.h"
#include "tools/pack_inputs.h"
#include "tools/pack_system.h"
#include "tools/system.h"

namespace {

const wchar_t kClass[] = L"vellicor_maker";
const wchar_t kBarClass[] = L"vellicor_maker_bar";
const wchar_t kTitle[] = L"Vellicor Ver 1.61  自己解凍ファイルの作成";
const UINT kProgressMessage = WM_APP + 1, kDoneMessage = WM_APP + 2;

// Control ids (the tests name them).
enum : int {
  IdList = 10, IdAddFiles = 11, IdAddFolder = 12, IdRemove = 13,
  IdComment = 20, IdLaunch = 21,
  IdPassword = 30, IdConfirm = 31, IdMask = 32, IdPasswordNote = 33,
  IdLevel = 40,
  IdOutput = 50, IdOutputBrowse = 51, IdIcon = 52, IdIconBrowse = 53,
  IdCreate = 60, IdCancel = 61,
  IdBar = 70, IdStatus = 71,
  IdLabels = 100,
};

const wchar_t kPasswordNote[] =
    L"パスワードを知らない人は解凍できず、格納したデータは隠されます。ただし暗号化ではありません"
    L"（繰り返しのマスクと16ビットの検査値なので、ファイルを持つ人は手間をかければ元に戻せます）。"
    L"秘密を守るには、ファイル全体を本物の暗号化ツールで暗号化してください。";

struct Maker {
  HWND window = 0, list = 0, comment = 0, launch = 0, password = 0, confirm = 0, mask = 0, level = 0, output = 0,
       icon = 0, create = 0, cancelButton = 0, bar = 0, status = 0;
  std::vector<HWND> inputControls;    // disabled while a run goes on
  std::vector<std::wstring> inputs;   // as listed
  std::vector<std::string> launchNames;  // code page 932, the launch box's entries after "(none)"
  std::wstring defaultOutput;          // what the output box was given by default
  // The run.
  std::thread worker;
  bool running = false, closeAfterRun = false;
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> doneBytes{0}, totalBytes{0};
  DWORD lastPost = 0;
  PackRun run;
  PackRunResult result;
  std::vector<PackInput> items;
  std::string stub;
  int fd = -1;
  std::string outputUtf8;
  bool ok = false;
} m;

std::string utf8Of(const std::wstring& w) {
  std::string s;
  winToUtf8(w.data(), w.size(), &s);
  return s;
}

std::wstring wideOf(const std::string& utf8) {
  std::wstring w;
  winFromUtf8(utf8.data(), utf8.size(), &w);
  return w;
}

std::wstring wideOfCp932(const std::string& cp932) {
  std::wstring w;
  winFromCp932(cp932.data(), cp932.size(), &w);
  return w;
}

std::wstring textOf(HWND control) {
  const int n = GetWindowTextLengthW(control);
  std::wstring w((size_t)n + 1, L'\0');
  GetWindowTextW(control, w.data(), n + 1);
  w.resize(wcslen(w.c_str()));
  return w;
}

void tell(const std::wstring& text, UINT flags) { MessageBoxW(m.window, text.c_str(), kTitle, flags); }

// The default output: FIRST.exe beside the first input (a file's name
// without its extension).
std::wstring defaultOutputFor(const std::wstring& first) {
  std::wstring path = first;
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring name = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  }
  if (name.empty() || name.back() == L':') return L"";
  return path.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + name + L".exe";
}

// What would be stored, collected as pack collects it (the output left out).
void collect(const std::string& outputUtf8, CollectResult* r) {
  std::vector<std::string> roots;
  for (const std::wstring& w : m.inputs) roots.push_back(utf8Of(w));
  uint64_t skipDev = ~0ull, skipIno = ~0ull;
  SysFileInfo info;
  if (!outputUtf8.empty() && sysFileInfo(outputUtf8, &info) && !info.folder) {
    skipDev = info.volume;
    skipIno = info.index;
  }
  collectInputs(roots, skipDev, skipIno, r);
}

// The launch box offers the stored files; its choice stays when it still is one.
void refreshLaunch() {
  std::string chosen;
  const LRESULT at = SendMessageW(m.launch, CB_GETCURSEL, 0, 0);
  if (at > 0 && (size_t)at <= m.launchNames.size()) chosen = m.launchNames[(size_t)at - 1];
  SendMessageW(m.launch, CB_RESETCONTENT, 0, 0);
  SendMessageW(m.launch, CB_ADDSTRING, 0, (LPARAM)L"（なし）");
  m.launchNames.clear();
  CollectResult r;
  collect("", &r);
  int select = 0;
  for (const PackInput& in : r.items) {
    if (in.folder) continue;
    m.launchNames.push_back(in.name);
    SendMessageW(m.launch, CB_ADDSTRING, 0, (LPARAM)wideOfCp932(in.name).c_str());
    if (in.name == chosen) select = (int)m.launchNames.size();
  }
  SendMessageW(m.launch, CB_SETCURSEL, select, 0);
}

void addInputs(const std::vector<std::wstring>& paths) {
  for (const std::wstring& p : paths) {
    bool known = false;
    for (const std::wstring& q : m.inputs) known = known || _wcsicmp(p.c_str(), q.c_str()) == 0;
    if (known || p.empty()) continue;
    m.inputs.push_back(p);
    SendMessageW(m.list, LB_ADDSTRING, 0, (LPARAM)p.c_str());
  }
  if (!m.inputs.empty()) {
    const std::wstring now = textOf(m.output);
    if (now.empty() || now == m.defaultOutput) {
      m.defaultOutput = defaultOutputFor(m.inputs[0]);
      SetWindowTextW(m.output, m.defaultOutput.c_str());
    }
  }
  refreshLaunch();
}

void removeSelected() {
  for (int i = (int)m.inputs.size() - 1; i >= 0; --i) {
    if (SendMessageW(m.list, LB_GETSEL, i, 0) <= 0) continue;
    SendMessageW(m.list, LB_DELETESTRING, i, 0);
    m.inputs.erase(m.inputs.begin() + i);
  }
  if (m.inputs.empty() && textOf(m.output) == m.defaultOutput) SetWindowTextW(m.output, L"");
  else if (!m.inputs.empty() && textOf(m.output) == m.defaultOutput) {
    m.defaultOutput = defaultOutputFor(m.inputs[0]);
    SetWindowTextW(m.output, m.defaultOutput.c_str());
  }
  refreshLaunch();
}

void onDrop(HDROP drop) {
  std::vector<std::wstring> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, 0, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT n = DragQueryFileW(drop, i, 0, 0);
    std::wstring p((size_t)n + 1, L'\0');
    DragQueryFileW(drop, i, p.data(), n + 1);
    p.resize(n);
    paths.push_back(p);
  }
  DragFinish(drop);
  addInputs(paths);
}

void addFiles() {
  std::vector<wchar_t> buffer(65536, L'\0');
  OPENFILENAMEW o = {};
  o.lStructSize = sizeof o;
  o.hwndOwner = m.window;
  o.lpstrFile = buffer.data();
  o.nMaxFile = (DWORD)buffer.size();
  o.lpstrTitle = L"格納するファイルを選んでください";
  o.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&o)) return;
  // One name: the whole path; several: the folder, then the names.
  std::vector<std::wstring> parts;
  for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) parts.push_back(p);
  std::vector<std::wstring> paths;
  if (parts.size() == 1) paths = parts;
  for (size_t i = 1; i < parts.size(); ++i)
    paths.push_back(parts[0] + (parts[0].back() == L'\\' ? L"" : L"\\") + parts[i]);
  addInputs(paths);
}

void addFolder() {
  BROWSEINFOW b = {};
  b.hwndOwner = m.window;
  b.lpszTitle = L"格納するフォルダを選んでください";
  b.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST item = SHBrowseForFolderW(&b);
  if (!item) return;
  wchar_t path[MAX_PATH * 4] = {};
  const bool got = SHGetPathFromIDListW(item, path);
  CoTaskMemFree(item);
  if (got) addInputs({path});
}

void browseFile(HWND box, bool save) {
  wchar_t path[32768] = {};
  const std::wstring now = textOf(box);
  wcsncpy(path, now.c_str(), 32767);
  OPENFILENAMEW o = {};
  o.lStructSize = sizeof o;
  o.hwndOwner = m.window;
  o.lpstrFile = path;
  o.nMaxFile = 32768;
  if (save) {
    o.lpstrFilter = L"自己解凍ファイル (*.exe)\0*.exe\0";
    o.lpstrDefExt = L"exe";
    o.lpstrTitle = L"作成するファイル";
    o.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    if (GetSaveFileNameW(&o)) SetWindowTextW(box, path);
  } else {
    o.lpstrFilter = L"アイコン (*.ico)\0*.ico\0";
    o.lpstrTitle = L"自己解凍ファイルのアイコン";
    o.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameW(&o)) SetWindowTextW(box, path);
  }
}

void setRunning(bool running) {
  m.running = running;
  for (HWND c : m.inputControls) EnableWindow(c, !running);
  EnableWindow(m.cancelButton, running);
  DragAcceptFiles(m.window, !running);
}

void onProgress(void*, const PackProgress& p) {
  m.doneBytes = p.codedBytes;
  m.totalBytes = p.totalBytes;
  const DWORD now = GetTickCount();
  if (now - m.lastPost >= 100 || p.codedBytes == p.totalBytes) {
    m.lastPost = now;
    PostMessageW(m.window, kProgressMessage, 0, 0);
  }
}

// Why a run failed, in the user's words.
std::wstring failureText(const PackRunResult& r, const std::wstring& output) {
  switch (r.failure) {
    case PackCancelled: return L"中止しました。出力ファイルは作っていません。";
    case PackNoMemory: return L"メモリが足りません。出力ファイルは作っていません。";
    case PackCannotOpen:
      return L"次のファイルを開けません。出力ファイルは作っていません。\n\n" + wideOf(r.input) + L"\n" +
             wideOf(sysErrorText(r.systemError));
    case PackCannotStore:
      return L"次のファイルを格納できません（" + wideOf(r.detail) + L"）。出力ファイルは作っていません。\n\n" +
             wideOf(r.input);
    case PackTooLarge:
      return L"自己解凍ファイルが 2,147,483,647 バイトを超えます。格納するものを減らしてください。";
    default:
      return L"出力ファイルに書き込めません。出力ファイルは作っていません。\n\n" + output + L"\n" +
             wideOf(strerror((int)r.systemError));
  }
}

// Everything the run needs, checked before anything is written; false
// after telling the user why.
bool prepare(bool quick, std::wstring* output) {
  if (m.inputs.empty()) return tell(L"格納するファイルかフォルダを追加してください。", MB_ICONERROR), false;
  *output = quick ? defaultOutputFor(m.inputs[0]) : textOf(m.output);
  if (output->empty()) return tell(L"作成するファイルの名前を入れてください。", MB_ICONERROR), false;
  m.outputUtf8 = utf8Of(*output);
  SysFileInfo info;
  if (sysFileInfo(m.outputUtf8, &info) && info.folder)
    return tell(L"作成するファイルの名前がフォルダを指しています。\n\n" + *output, MB_ICONERROR), false;

  ArchiveSettings& s = m.run.settings;
  s = ArchiveSettings();
  s.threads = sysProcessorCount() < 256 ? sysProcessorCount() : 256;
  uint32_t n = 0;
  const uint8_t* p = embeddedStub(&n);
  m.stub.assign((const char*)p, n);
  std::string why;
  if (!quick) {
    const std::wstring iconPath = textOf(m.icon);
    if (!iconPath.empty()) {
      std::string ico;
      if (!sysReadWholeFile(utf8Of(iconPath), &ico))
        return tell(L"アイコンのファイルを読めません。\n\n" + iconPath, MB_ICONERROR), false;
      if (!replaceStubIcon(&m.stub, ico, &why))
        return tell(L"このアイコンは使えません（" + wideOf(why) + L"）。\n\n" + iconPath, MB_ICONERROR), false;
    }
    if (!commentToCp932(utf8Of(textOf(m.comment)), &s.comment, &why))
      return tell(L"コメントに、コードページ932にない文字があります。", MB_ICONERROR), false;
    const LRESULT at = SendMessageW(m.launch, CB_GETCURSEL, 0, 0);
    if (at > 0 && (size_t)at <= m.launchNames.size()) s.launchFile = m.launchNames[(size_t)at - 1];
    const std::wstring password = textOf(m.password), confirm = textOf(m.confirm);
    if (password != confirm) return tell(L"パスワードと確認のパスワードが違います。", MB_ICONERROR), false;
    if (!password.empty()) {
      if (!winToCp932(password.data(), password.size(), &s.password))
        return tell(L"パスワードに、コードページ932にない文字があります。", MB_ICONERROR), false;
      s.passwordFlags = SendMessageW(m.mask, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 2;
    }
    s.level = (int)SendMessageW(m.level, CB_GETCURSEL, 0, 0) + 1;
  }
  s.stub = (const uint8_t*)m.stub.data();

  // Names the format cannot hold, and inputs that cannot be read, before
  // anything is written.
  CollectResult r;
  collect(m.outputUtf8, &r);
  if (!r.error.empty()) {
    // Each listed input's first problem, so that all can be mended at once
    // (two inputs of one name show up only together).
    std::wstring problems;
    size_t shown = 0;
    const std::vector<std::wstring> all = m.inputs;
    for (const std::wstring& one : all) {
      m.inputs = {one};
      CollectResult alone;
      collect(m.outputUtf8, &alone);
      if (alone.error.empty()) continue;
      if (++shown <= 10) problems += L"\n\n" + wideOf(alone.error);
    }
    m.inputs = all;
    if (!shown) problems = L"\n\n" + wideOf(r.error);
    return tell(L"次のものは格納できません。何も書き込んでいません。" + problems, MB_ICONERROR), false;
  }
  if (r.items.empty()) return tell(L"格納するものがありません。", MB_ICONERROR), false;
  m.items.swap(r.items);
  return true;
}

// Starts a run (the window's, or the quick one's); false when it did not start.
bool startRun(bool quick) {
  std::wstring output;
  if (!prepare(quick, &output)) return false;
  if (!sysBeginOutput(m.outputUtf8, "", 6, &m.fd))
    return tell(L"出力ファイルを作れません。\n\n" + output + L"\n" + wideOf(sysErrorText(sysLastError())),
                MB_ICONERROR),
           false;
  m.cancel = false;
  m.doneBytes = 0;
  m.totalBytes = 0;
  m.run.inputs = &m.items;
  m.run.fd = m.fd;
  m.run.openInput = packOpenInput;
  m.run.progress = onProgress;
  m.run.cancel = &m.cancel;
  if (m.status) SetWindowTextW(m.status, L"作成しています...");
  setRunning(true);
  m.worker = std::thread([] {
    m.ok = runPack(m.run, &m.result);
    if (m.window) PostMessageW(m.window, kDoneMessage, 0, 0);
  });
  return true;
}

// After the worker: the output kept or removed, and the user told.
bool finishRun(bool quiet) {
  m.worker.join();
  const std::wstring output = wideOf(m.outputUtf8);
  bool ok = m.ok;
  std::wstring text;
  if (!ok) {
    sysDiscardOutput(m.fd);
    text = failureText(m.result, output);
  } else if (!sysFinishOutput(m.fd, m.outputUtf8)) {
    ok = false;
    text = L"出力ファイルに書き込めません。出力ファイルは作っていません。\n\n" + output + L"\n" +
           wideOf(sysErrorText(sysLastError()));
  }
  setRunning(false);
  InvalidateRect(m.bar, 0, TRUE);
  if (m.status) {
    wchar_t line[256];
    swprintf(line, 256, L"作成しました（ファイル %llu 個、フォルダ %llu 個、%llu バイト）。",
             (unsigned long long)m.result.stats.files, (unsigned long long)m.result.stats.folders,
             (unsigned long long)m.result.totalSize);
    SetWindowTextW(m.status, ok ? line : m.result.failure == PackCancelled ? L"中止しました。" : L"失敗しました。");
  }
  if (!ok) tell(text, m.result.failure == PackCancelled ? MB_ICONINFORMATION : MB_ICONERROR);
  else if (!quiet) tell(L"自己解凍ファイルを作成しました。\n\n" + output, MB_ICONINFORMATION);
  m.items.clear();
  return ok;
}

LRESULT CALLBACK barProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetClientRect(window, &r);
    FillRect(dc, &r, (HBRUSH)GetStockObject(WHITE_BRUSH));
    const uint64_t total = m.totalBytes, done = m.doneBytes;
    if (m.running || done) {
      RECT filled = r;
      filled.right = total ? (LONG)(r.left + (r.right - r.left) * (double)done / (double)total) : r.right;
      FillRect(dc, &filled, GetSysColorBrush(COLOR_HIGHLIGHT));
    }
    FrameRect(dc, &r, (HBRUSH)GetStockObject(GRAY_BRUSH));
    EndPaint(window, &ps);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND control(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
             DWORD exStyle = 0) {
  return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, m.window,
                         (HMENU)(INT_PTR)id, GetModuleHandleW(0), 0);
}

void onCreate(HWND window) {
  m.window = window;
  HDC dc = GetDC(window);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);
  const int cw = tm.tmAveCharWidth, lh = tm.tmHeight + tm.tmExternalLeading;
  // Buttons as wide as the longest caption; the right column holds them.
  SIZE extent = {};
  const wchar_t widest[] = L"フォルダ追加...";
  GetTextExtentPoint32W(dc, widest, (int)wcslen(widest), &extent);
  ReleaseDC(window, dc);
  const int width = 84 * cw, bw = extent.cx + 2 * cw, bh = (3 * lh) / 2, right = width - cw - bw;
  const int full = width - 2 * cw, left = right - 2 * cw;
  RECT want = {0, 0, width, 38 * lh};
  AdjustWindowRect(&want, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE);
  SetWindowPos(window, 0, 0, 0, want.right - want.left, want.bottom - want.top, SWP_NOMOVE | SWP_NOZORDER);

  int label = IdLabels;
  auto text = [&](const wchar_t* t, int x, int y, int w) { return control(L"static", t, 0, x, y, w, lh, label++); };
  const DWORD line = WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
  text(L"格納するファイルとフォルダ（ここへドロップできます）", cw, lh / 2, left);
  m.list = control(L"listbox", 0, WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_EXTENDEDSEL | LBS_NOINTEGRALHEIGHT |
                                      WS_TABSTOP, cw, 3 * lh / 2, left, 7 * lh, IdList);
  SendMessageW(m.list, LB_SETHORIZONTALEXTENT, 400 * cw, 0);
  HWND addFiles = control(L"button", L"ファイル追加...", WS_TABSTOP, right, 3 * lh / 2, bw, bh, IdAddFiles);
  HWND addFolder = control(L"button", L"フォルダ追加...", WS_TABSTOP, right, 3 * lh / 2 + 2 * lh, bw, bh, IdAddFolder);
  HWND remove = control(L"button", L"削除", WS_TABSTOP, right, 3 * lh / 2 + 4 * lh, bw, bh, IdRemove);

  text(L"コメント", cw, 9 * lh, 20 * cw);
  m.comment = control(L"edit", 0, WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP,
                      cw, 10 * lh, full, 5 * lh, IdComment);
  text(L"解凍後に開くファイル", cw, 15 * lh + lh / 2, 24 * cw);
  m.launch = control(L"combobox", 0, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 26 * cw, 15 * lh + lh / 4,
                     width - 27 * cw, 10 * lh, IdLaunch);

  text(L"パスワード", cw, 17 * lh + lh / 2, 12 * cw);
  m.password = control(L"edit", 0, line | ES_PASSWORD, 13 * cw, 17 * lh + lh / 2, 20 * cw, lh + 4, IdPassword);
  text(L"確認", 35 * cw, 17 * lh + lh / 2, 5 * cw);
  m.confirm = control(L"edit", 0, line | ES_PASSWORD, 41 * cw, 17 * lh + lh / 2, 20 * cw, lh + 4, IdConfirm);
  m.mask = control(L"button", L"解凍時に＊で隠す", BS_AUTOCHECKBOX | WS_TABSTOP, 63 * cw, 17 * lh + lh / 2,
                   width - 64 * cw, lh + 4, IdMask);
  SendMessageW(m.mask, BM_SETCHECK, BST_CHECKED, 0);
  control(L"static", kPasswordNote, 0, cw, 19 * lh, full, 4 * lh, IdPasswordNote);

  text(L"圧縮レベル", cw, 23 * lh + lh / 2, 12 * cw);
  m.level = control(L"combobox", 0, CBS_DROPDOWNLIST | WS_TABSTOP, 13 * cw, 23 * lh + lh / 4, 30 * cw, 8 * lh, IdLevel);
  const wchar_t* levels[] = {L"1（速い）", L"2", L"3", L"4（標準）", L"5（小さい）"};
  for (const wchar_t* l : levels) SendMessageW(m.level, CB_ADDSTRING, 0, (LPARAM)l);
  SendMessageW(m.level, CB_SETCURSEL, kDefaultLevel - 1, 0);

  text(L"アイコン", cw, 25 * lh + lh / 2, 12 * cw);
  m.icon = control(L"edit", 0, line, 13 * cw, 25 * lh + lh / 2, right - 14 * cw, lh + 4, IdIcon);
  HWND iconBrowse = control(L"button", L"参照...", WS_TABSTOP, right, 25 * lh + lh / 4, bw, bh, IdIconBrowse);
  text(L"作成するファイル", cw, 27 * lh + lh / 2, 20 * cw);
  m.output = control(L"edit", 0, line, cw, 29 * lh, left, lh + 4, IdOutput);
  HWND outputBrowse = control(L"button", L"参照...", WS_TABSTOP, right, 29 * lh - lh / 4, bw, bh, IdOutputBrowse);

  m.bar = control(kBarClass, 0, 0, cw, 31 * lh + lh / 2, full, lh, IdBar);
  m.status = control(L"static", L"", 0, cw, 33 * lh, left - bw, lh, IdStatus);
  m.create = control(L"button", L"作成", WS_TABSTOP | BS_DEFPUSHBUTTON, right - bw - cw, 35 * lh, bw, bh, IdCreate);
  m.cancelButton = control(L"button", L"中止", WS_TABSTOP, right, 35 * lh, bw, bh, IdCancel);
  EnableWindow(m.cancelButton, FALSE);
  m.inputControls = {m.list, addFiles, addFolder, remove, m.comment, m.launch, m.password, m.confirm, m.mask,
                     m.level, m.icon, iconBrowse, m.output, outputBrowse, m.create};
  DragAcceptFiles(window, TRUE);
  refreshLaunch();
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      onCreate(window);
      return 0;
    case WM_CTLCOLORSTATIC:
      // Labels and the check box on the window's own colour.
      SetBkMode((HDC)wParam, TRANSPARENT);
      return (LRESULT)GetSysColorBrush(COLOR_MENU);
    case WM_DROPFILES:
      if (!m.running) onDrop((HDROP)wParam);
      else DragFinish((HDROP)wParam);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) break;
      switch (LOWORD(wParam)) {
        case IdAddFiles: addFiles(); return 0;
        case IdAddFolder: addFolder(); return 0;
        case IdRemove: removeSelected(); return 0;
        case IdOutputBrowse: browseFile(m.output, true); return 0;
        case IdIconBrowse: browseFile(m.icon, false); return 0;
        case IdCreate:
          if (!m.running) startRun(false);
          return 0;
        case IdCancel:
          if (m.running) {
            m.cancel = true;
            SetWindowTextW(m.status, L"中止しています...");
          }
          return 0;
      }
      break;
    case kProgressMessage: {
      const uint64_t total = m.totalBytes, done = m.doneBytes;
      wchar_t line[128];
      swprintf(line, 128, L"作成しています... %.1f%%", total ? 100.0 * (double)done / (double)total : 100.0);
      if (!m.cancel) SetWindowTextW(m.status, line);
      InvalidateRect(m.bar, 0, FALSE);
      return 0;
    }
    case kDoneMessage:
      finishRun(false);
      if (m.closeAfterRun) DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      // A run in progress is cancelled first; the window goes when it has ended.
      if (m.running) {
        m.cancel = true;
        m.closeAfterRun = true;
        return 0;
      }
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  bool quick = false;
  std::vector<std::wstring> paths;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"/pack" || a == L"--pack") quick = true;
    else paths.push_back(a);
  }
  LocalFree(argv);
  sysInitTerminalText(true);
  CoInitialize(0);

  if (quick) {
    // No window: the defaults, FIRST.exe beside the first input, and a
    // message only when something fails.
    for (const std::wstring& p : paths) m.inputs.push_back(p);
    if (!startRun(true)) return 1;
    return finishRun(true) ? 0 : 1;
  }

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, L"MAIN_ICON");
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(0, (LPCWSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
  wc.lpszClassName = kClass;
  if (!RegisterClassExW(&wc)) return 1;
  WNDCLASSW bar = {};
  bar.lpfnWndProc = barProc;
  bar.hInstance = instance;
  bar.hCursor = wc.hCursor;
  bar.lpszClassName = kBarClass;
  RegisterClassW(&bar);
  HWND window = CreateWindowExW(WS_EX_ACCEPTFILES, kClass, kTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, instance, 0);
  if (!window) return 1;
  if (!paths.empty()) addInputs(paths);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  MSG msg;
  while (GetMessageW(&msg, 0, 0, 0) > 0) {
    if (IsDialogMessageW(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return (int)msg.wParam;
}
