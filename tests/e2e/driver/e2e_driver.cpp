// End-to-end test driver: a small Win32 console program that runs inside the
// same Wine session as the program under test, starts it, watches its
// windows and message boxes, acts on them as a user would (typing, clicking,
// answering, closing) and checks what it sees against a case script.
//
// Usage: e2e_driver.exe [--ack-dir DIR] [-D NAME=VALUE]... SCRIPT
//
// The script is UTF-8; every text is converted to code page 932 before it is
// compared with or sent to the program, so comparisons are byte-exact in the
// program's own encoding. Texts and names cross to the system as UTF-16
// converted with code page 932 named explicitly, so the driver reads and
// checks the same under any ANSI code page of the session. See
// tests/e2e/README.md for the script language.
//
// Output lines: "ok <line>: ..." for each step, "@@screenshot NAME" when the
// runner should take a picture (it acknowledges by creating NAME.done in the
// ack folder), "FAIL <file>:<line>: ..." on a failed expectation, and a last
// line "PASS" or "FAIL". Exit code 0 = pass, 1 = failed expectation,
// 2 = script error.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- text ---

std::string wideTo(UINT cp, const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(cp, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(cp, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring wideFrom(UINT cp, const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), &w[0], n);
  return w;
}

// UTF-8 (script) -> code page 932 (program). Sets *lossy when a character
// has no code page 932 form.
std::string toSjis(const std::string& utf8, bool* lossy = nullptr) {
  std::wstring w = wideFrom(CP_UTF8, utf8);
  if (w.empty()) return std::string();
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(932, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, &usedDefault);
  std::string s(n, '\0');
  WideCharToMultiByte(932, 0, w.data(), (int)w.size(), &s[0], n, nullptr, &usedDefault);
  if (lossy) *lossy = usedDefault != FALSE;
  return s;
}

// A code page 932 name or text as the system's UTF-16.
std::wstring w932(const std::string& sjis) { return wideFrom(932, sjis) + L'\0'; }

// Code page 932 -> printable UTF-8, control characters escaped.
std::string show(const std::string& sjis) {
  std::string u = wideTo(CP_UTF8, wideFrom(932, sjis));
  std::string out = "\"";
  for (unsigned char c : u) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '"') out += "\\\"";
    else if (c < 0x20) { char b[8]; snprintf(b, sizeof b, "\\x%02X", c); out += b; }
    else out += (char)c;
  }
  return out + "\"";
}

// ------------------------------------------------------------- output ---

const char* gScriptName = "script";
int gLine = 0;
std::string gAckDir;
LARGE_INTEGER gStopwatch;  // stopwatch-start

void out(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stdout, fmt, ap);
  va_end(ap);
  fputc('\n', stdout);
  fflush(stdout);
}

// ------------------------------------------------------------- script ---

struct Tok {
  std::string text;  // UTF-8, escapes resolved, variables expanded
  bool quoted;
};

struct Var { std::string name, value; };
std::vector<Var> gVars;

const std::string* findVar(const std::string& name) {
  for (auto& v : gVars) if (v.name == name) return &v.value;
  return nullptr;
}

void setVar(const std::string& name, const std::string& value) {
  for (auto& v : gVars) if (v.name == name) { v.value = value; return; }
  gVars.push_back({name, value});
}

struct ScriptError { std::string msg; };
struct Failure { std::string msg; };

[[noreturn]] void scriptError(const std::string& m) { throw ScriptError{m}; }
[[noreturn]] void fail(const std::string& m) { throw Failure{m}; }

std::string fmt(const char* f, ...) {
  char buf[4096];
  va_list ap;
  va_start(ap, f);
  vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

std::string expand(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '$' && i + 1 < s.size() && s[i + 1] == '{') {
      size_t e = s.find('}', i + 2);
      if (e == std::string::npos) scriptError("unterminated ${");
      std::string name = s.substr(i + 2, e - i - 2);
      const std::string* v = findVar(name);
      if (!v) scriptError("unknown variable " + name);
      r += *v;
      i = e;
    } else {
      r += s[i];
    }
  }
  return r;
}

// Reads a quoted string starting at p (which points at the opening quote).
// Escapes: \n \r \t \\ \" \0; any other backslash is kept as it is, so
// quoted paths need no doubling unless a name starts with n, r, t or 0.
std::string readQuoted(const char*& p) {
  std::string raw;
  ++p;
  while (*p && *p != '"') {
    if (*p == '\\' && p[1]) {
      ++p;
      switch (*p) {
        case 'n': raw += '\n'; break;
        case 'r': raw += '\r'; break;
        case 't': raw += '\t'; break;
        case '0': raw += '\0'; break;
        case '\\': case '"': raw += *p; break;
        default: raw += '\\'; raw += *p; break;  // other backslashes stay (paths)
      }
      ++p;
    } else {
      raw += *p++;
    }
  }
  if (*p != '"') scriptError("unterminated string");
  ++p;
  return expand(raw);
}

std::vector<Tok> tokenize(const std::string& line) {
  std::vector<Tok> toks;
  const char* p = line.c_str();
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (!*p || *p == '#') break;
    if (*p == '"') {
      toks.push_back({readQuoted(p), true});
      continue;
    }
    // A bare word; quoted parts inside it (e.g. extw("...")) are kept
    // verbatim for the expression parser.
    std::string w;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
      if (*p == '"') {
        const char* q = p + 1;
        w += '"';
        while (*q && *q != '"') { if (*q == '\\' && q[1]) w += *q++; w += *q++; }
        if (*q != '"') scriptError("unterminated string");
        w += '"';
        p = q + 1;
      } else {
        w += *p++;
      }
    }
    toks.push_back({expand(w), false});
  }
  return toks;
}

// ------------------------------------------------- the program under test

PROCESS_INFORMATION gProc;
bool gStarted = false;
bool gExitChecked = false;
DWORD gTimeoutMs = 30000;        // waits for windows, message boxes, the exit
DWORD gExpectTimeoutMs = 5000;   // how long an expectation may take to come true

struct Bound { std::string name; HWND hwnd; };
std::vector<Bound> gWins;

HWND findBound(const std::string& name) {
  for (auto& b : gWins) if (b.name == name) return b.hwnd;
  scriptError("unknown window name " + name);
}

void bindWin(const std::string& name, HWND h) {
  for (auto& b : gWins) if (b.name == name) { b.hwnd = h; return; }
  gWins.push_back({name, h});
}

std::string winClass(HWND h) {
  char b[256] = {0};
  GetClassNameA(h, b, sizeof b);
  return b;
}

// The text of a window of the program, read as UTF-16 with WM_GETTEXT and
// given as code page 932 (a character without a form there becomes "?").
std::string winText(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len))
    fail("window does not answer WM_GETTEXTLENGTH");
  std::vector<wchar_t> buf(len + 16, 0);
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, (WPARAM)buf.size(), (LPARAM)buf.data(),
                           SMTO_ABORTIFHUNG, 5000, &got))
    fail("window does not answer WM_GETTEXT");
  return wideTo(932, std::wstring(buf.data(), got));
}

bool processEnded(DWORD* code = nullptr) {
  if (!gStarted) return false;
  if (WaitForSingleObject(gProc.hProcess, 0) != WAIT_OBJECT_0) return false;
  if (code) GetExitCodeProcess(gProc.hProcess, code);
  return true;
}

void requireStarted() {
  if (!gStarted) scriptError("the program has not been started");
}

struct EnumCtx { std::vector<HWND>* list; DWORD pid; };

BOOL CALLBACK enumTop(HWND h, LPARAM lp) {
  EnumCtx* c = (EnumCtx*)lp;
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == c->pid) c->list->push_back(h);
  return TRUE;
}

std::vector<HWND> topWindows() {
  std::vector<HWND> v;
  EnumCtx c{&v, gProc.dwProcessId};
  EnumWindows(enumTop, (LPARAM)&c);
  return v;
}

BOOL CALLBACK enumChild(HWND h, LPARAM lp) {
  ((std::vector<HWND>*)lp)->push_back(h);
  return TRUE;
}

std::vector<HWND> children(HWND parent) {
  std::vector<HWND> v;
  EnumChildWindows(parent, enumChild, (LPARAM)&v);
  return v;
}

bool hasStyle(HWND h, LONG bits) { return (GetWindowLongA(h, GWL_STYLE) & bits) == bits; }

// Polls `cond` every 20 ms until it holds or the timeout passes. Ends early
// (as a failure) when the program has exited, unless allowExit.
template <class F>
bool poll(F cond, DWORD timeoutMs, const std::string& what, bool allowExit = false) {
  DWORD start = GetTickCount();
  for (;;) {
    if (cond()) return true;
    DWORD code;
    if (!allowExit && processEnded(&code)) {
      if (cond()) return true;
      fail(fmt("the program ended with exit code %lu while waiting for %s", code, what.c_str()));
    }
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
}

// ------------------------------------------------------------ metrics ---

int gCharWidth, gLineHeight;
// The layout units of a font with Japanese glyphs: the system font where
// it is of the Japanese character set, else such a font of its height.
int gJapaneseCharWidth, gJapaneseLineHeight;
RECT gDesk;

void initMetrics() {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
  TEXTMETRICA tm;
  GetTextMetricsA(dc, &tm);
  gCharWidth = tm.tmAveCharWidth;
  gJapaneseCharWidth = tm.tmAveCharWidth;
  gJapaneseLineHeight = tm.tmHeight + tm.tmExternalLeading;
  if (tm.tmCharSet != SHIFTJIS_CHARSET) {
    LOGFONTA lf = {};
    lf.lfHeight = tm.tmHeight;
    lf.lfWeight = tm.tmWeight;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    HFONT japanese = CreateFontIndirectA(&lf);
    SelectObject(dc, japanese);
    TEXTMETRICA jm;
    GetTextMetricsA(dc, &jm);
    gJapaneseCharWidth = jm.tmAveCharWidth;
    gJapaneseLineHeight = jm.tmHeight + jm.tmExternalLeading;
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(japanese);
  }
  gLineHeight = tm.tmHeight + tm.tmExternalLeading;
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  GetWindowRect(GetDesktopWindow(), &gDesk);
}

SIZE textExtent(const std::string& sjis) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
  SIZE sz = {0, 0};
  const std::wstring w = wideFrom(932, sjis);
  GetTextExtentPoint32W(dc, w.data(), (int)w.size(), &sz);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return sz;
}

// ---------------------------------------------------------- expressions
// Integers with + - * / % (division truncates toward zero) and parentheses;
// names: cw, lh (layout units of the system font), deskL deskT deskR deskB
// (desktop window rectangle), `let` variables; functions extw("text") and
// exth("text"): text extent of the text in the system font.

struct Expr {
  const char* p;
  void ws() { while (*p == ' ') ++p; }
  long long primary() {
    ws();
    if (*p == '(') { ++p; long long v = sum(); ws(); if (*p != ')') scriptError("missing )"); ++p; return v; }
    if (*p == '-') { ++p; return -primary(); }
    if (*p >= '0' && *p <= '9') {
      char* e;
      long long v = strtoll(p, &e, 0);
      p = e;
      return v;
    }
    std::string id;
    while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || *p == '_') id += *p++;
    if (id.empty()) scriptError(fmt("bad expression near '%s'", p));
    if (*p == '(') {
      ++p;
      ws();
      if (*p != '"') scriptError(id + "() takes a quoted text");
      std::string s = readQuoted(p);
      ws();
      if (*p != ')') scriptError("missing )");
      ++p;
      SIZE sz = textExtent(toSjis(s));
      if (id == "extw") return sz.cx;
      if (id == "exth") return sz.cy;
      if (id == "bytes") return (long long)toSjis(s).size();
      scriptError("unknown function " + id);
    }
    if (id == "cw") return gCharWidth;
    if (id == "lh") return gLineHeight;
    if (id == "jcw") return gJapaneseCharWidth;
    if (id == "jlh") return gJapaneseLineHeight;
    if (id == "deskL") return gDesk.left;
    if (id == "deskT") return gDesk.top;
    if (id == "deskR") return gDesk.right;
    if (id == "deskB") return gDesk.bottom;
    const std::string* v = findVar(id);
    if (!v) scriptError("unknown name " + id);
    return strtoll(v->c_str(), nullptr, 0);
  }
  long long product() {
    long long v = primary();
    for (;;) {
      ws();
      char op = *p;
      if (op != '*' && op != '/' && op != '%') return v;
      ++p;
      long long r = primary();
      if (op == '*') v *= r;
      else if (r == 0) scriptError("division by zero");
      else if (op == '/') v /= r;  // C++ division truncates toward zero
      else v %= r;
    }
  }
  long long sum() {
    long long v = product();
    for (;;) {
      ws();
      char op = *p;
      if (op != '+' && op != '-') return v;
      ++p;
      long long r = product();
      v = op == '+' ? v + r : v - r;
    }
  }
};

long long evalExpr(const std::string& s) {
  Expr e{s.c_str()};
  long long v = e.sum();
  e.ws();
  if (*e.p) scriptError("trailing characters in expression: " + s);
  return v;
}

// ------------------------------------------------------------ helpers ---

// "main" or "main:3" -> window handle (the control with that id).
HWND resolve(const std::string& ref) {
  size_t c = ref.find(':');
  HWND top = findBound(ref.substr(0, c));
  if (c == std::string::npos) return top;
  int id = (int)evalExpr(ref.substr(c + 1));
  HWND h = GetDlgItem(top, id);
  if (!h) fail(fmt("%s has no control with id %d", ref.substr(0, c).c_str(), id));
  return h;
}

bool isMessageBox(HWND h) {
  if (winClass(h) != "#32770") return false;
  if (!GetDlgItem(h, 0xFFFF)) return false;
  for (HWND c : children(h))
    if (winClass(c) == WC_TREEVIEWA) return false;
  return true;
}

HWND findMessageBox() {
  for (HWND h : topWindows())
    if (IsWindowVisible(h) && isMessageBox(h)) return h;
  return nullptr;
}

struct ButtonName { const char* name; int id; };
const ButtonName kButtons[] = {
  {"OK", IDOK}, {"CANCEL", IDCANCEL}, {"ABORT", IDABORT}, {"RETRY", IDRETRY},
  {"IGNORE", IDIGNORE}, {"YES", IDYES}, {"NO", IDNO},
};

int buttonId(const std::string& name) {
  for (auto& b : kButtons) if (name == b.name) return b.id;
  scriptError("unknown button " + name);
}

// The visible buttons of a dialog, e.g. "YES NO CANCEL".
std::string dialogButtons(HWND dlg) {
  std::string s;
  const int order[] = {IDOK, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE, IDCANCEL};
  for (int id : order) {
    HWND b = GetDlgItem(dlg, id);
    if (!b || !hasStyle(b, WS_VISIBLE)) continue;
    for (auto& n : kButtons)
      if (n.id == id) { if (!s.empty()) s += ' '; s += n.name; }
  }
  return s;
}

std::string buttonsOf(const std::string& set) {
  if (set == "OK") return "OK";
  if (set == "OKCANCEL") return "OK CANCEL";
  if (set == "YESNO") return "YES NO";
  if (set == "YESNOCANCEL") return "YES NO CANCEL";
  if (set == "RETRYCANCEL") return "RETRY CANCEL";
  if (set == "ABORTRETRYIGNORE") return "ABORT RETRY IGNORE";
  scriptError("unknown button set " + set);
}

// Presses a dialog button the way the dialog manager reports a click: a
// WM_COMMAND with the button id and BN_CLICKED, posted so that the driver
// never waits on the program's modal loop. Then waits until the dialog is gone.
void answerDialog(HWND dlg, const std::string& answer) {
  int id = buttonId(answer);
  HWND b = GetDlgItem(dlg, id);
  if (!b || !hasStyle(b, WS_VISIBLE))
    fail(fmt("the dialog has no %s button (it has: %s)", answer.c_str(), dialogButtons(dlg).c_str()));
  if (!IsWindowEnabled(b)) fail(fmt("the %s button is disabled", answer.c_str()));
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)b);
  if (!poll([&] { return !IsWindow(dlg) || !IsWindowVisible(dlg); }, gTimeoutMs,
            "the dialog to close", true))
    fail("the dialog did not close after " + answer);
}

std::string ownerName(HWND owner) {
  if (!owner) return "none";
  for (auto& b : gWins) if (b.hwnd == owner) return b.name;
  return fmt("%p (class %s)", (void*)owner, winClass(owner).c_str());
}

// Waits until the program has painted: no window of it has a pending update
// region, and its thread has gone through its message loop once more.
void settle() {
  if (!gStarted || processEnded()) return;
  poll([&] {
    for (HWND t : topWindows()) {
      if (!IsWindowVisible(t)) continue;
      if (GetUpdateRect(t, nullptr, FALSE)) return false;
      for (HWND c : children(t))
        if (IsWindowVisible(c) && GetUpdateRect(c, nullptr, FALSE)) return false;
    }
    return true;
  }, 5000, "painting", true);
  for (HWND t : topWindows()) {
    DWORD_PTR r;
    SendMessageTimeoutA(t, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &r);
  }
}

// ------------------------------------------------------------- checks ---
// An expectation is a list of attribute checks; each returns an empty string
// when it holds, else what was seen. Expectations are retried until they hold
// or the timeout passes, so asynchronous changes are waited for.

struct Check {
  std::string what;
  std::vector<std::string> args;
};

std::string parseAttrs(const std::vector<Tok>& t, size_t i, std::vector<Check>& checks) {
  static const struct { const char* name; int nargs; } kAttrs[] = {
    {"class", 1}, {"title", 1}, {"text", 1}, {"visible", 0}, {"hidden", 0},
    {"shown", 0}, {"enabled", 0}, {"disabled", 0}, {"rect", 4}, {"pos", 2},
    {"size", 2}, {"client", 2}, {"owner", 1}, {"parent", 1}, {"style", 1},
    {"style-has", 1}, {"style-lacks", 1}, {"exstyle", 1}, {"passchar", 1},
    {"has-text", 1}, {"focus", 0}, {"within", 1},
  };
  for (; i < t.size(); ++i) {
    bool ok = false;
    for (auto& a : kAttrs) {
      if (t[i].text != a.name || t[i].quoted) continue;
      Check c{a.name, {}};
      for (int k = 0; k < a.nargs; ++k) {
        if (++i >= t.size()) scriptError(std::string(a.name) + " needs more values");
        c.args.push_back(t[i].text);
      }
      checks.push_back(c);
      ok = true;
      break;
    }
    if (!ok) scriptError("unknown attribute " + t[i].text);
  }
  return "";
}

// Position of a window: screen coordinates for a top-level window, client
// coordinates of the parent for a child.
RECT placement(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  HWND parent = (GetWindowLongA(h, GWL_STYLE) & WS_CHILD) ? GetParent(h) : nullptr;
  if (parent) MapWindowPoints(nullptr, parent, (POINT*)&r, 2);
  return r;
}

std::string checkOne(HWND h, const Check& c) {
  LONG style = GetWindowLongA(h, GWL_STYLE);
  const std::string& w = c.what;
  if (w == "class") {
    std::string cls = winClass(h);
    return lstrcmpiA(cls.c_str(), toSjis(c.args[0]).c_str()) == 0 ? "" : "class " + cls;
  }
  if (w == "title" || w == "text") {
    std::string got = winText(h);
    return got == toSjis(c.args[0]) ? "" : w + " " + show(got);
  }
  if (w == "has-text") {
    std::string want = toSjis(c.args[0]);
    for (HWND k : children(h)) if (winText(k) == want) return "";
    return "no child with that text";
  }
  if (w == "visible") return (style & WS_VISIBLE) ? "" : "hidden";
  if (w == "hidden") return (style & WS_VISIBLE) ? "visible" : "";
  if (w == "shown") return IsWindowVisible(h) ? "" : "not shown on screen";
  if (w == "enabled") return IsWindowEnabled(h) ? "" : "disabled";
  if (w == "disabled") return IsWindowEnabled(h) ? "enabled" : "";
  if (w == "rect" || w == "pos" || w == "size") {
    RECT r = placement(h);
    long long got[4] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
    int first = w == "size" ? 2 : 0;
    bool same = true;
    for (size_t k = 0; k < c.args.size(); ++k) same &= evalExpr(c.args[k]) == got[first + k];
    if (same) return "";
    std::string want;
    for (auto& a : c.args) want += fmt(" %lld", evalExpr(a));
    return fmt("rect %ld %ld %ld %ld (wanted %s%s)", r.left, r.top, r.right - r.left,
               r.bottom - r.top, w.c_str(), want.c_str());
  }
  if (w == "client") {
    RECT r;
    GetClientRect(h, &r);
    if (r.right == evalExpr(c.args[0]) && r.bottom == evalExpr(c.args[1])) return "";
    return fmt("client %ld %ld", r.right, r.bottom);
  }
  if (w == "owner" || w == "parent") {
    HWND want = c.args[0] == "none" ? nullptr : findBound(c.args[0]);
    HWND got = w == "owner" ? GetWindow(h, GW_OWNER) : GetParent(h);
    return got == want ? "" : w + " " + ownerName(got);
  }
  if (w == "style" || w == "style-has" || w == "style-lacks" || w == "exstyle") {
    unsigned long want = (unsigned long)evalExpr(c.args[0]);
    unsigned long got = (unsigned long)(w == "exstyle" ? GetWindowLongA(h, GWL_EXSTYLE) : style);
    bool ok = w == "style" || w == "exstyle" ? got == want
            : w == "style-has"               ? (got & want) == want
                                             : (got & want) == 0;
    return ok ? "" : fmt("%s 0x%08lX", w == "exstyle" ? "exstyle" : "style", got);
  }
  if (w == "passchar") {
    DWORD_PTR ch = 0;
    SendMessageTimeoutA(h, EM_GETPASSWORDCHAR, 0, 0, SMTO_ABORTIFHUNG, 5000, &ch);
    unsigned want = c.args[0] == "none" ? 0 : (unsigned char)toSjis(c.args[0])[0];
    return ch == want ? "" : fmt("passchar 0x%02X", (unsigned)ch);
  }
  if (w == "focus") {
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof gi;
    GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gi);
    return gi.hwndFocus == h ? "" : fmt("focus is on %p", (void*)gi.hwndFocus);
  }
  scriptError("unhandled attribute " + w);
}

void expectAttrs(const std::string& ref, HWND h, const std::vector<Check>& checks,
                 DWORD timeoutMs) {
  std::string last;
  bool ok = poll([&] {
    if (!IsWindow(h)) { last = "the window no longer exists"; return false; }
    for (auto& c : checks) {
      last = checkOne(h, c);
      if (!last.empty()) { last = c.what + ": got " + last; return false; }
    }
    return true;
  }, timeoutMs, ref, true);
  if (!ok) fail(ref + ": " + last);
}

// ------------------------------------------------- remote memory helpers
// For messages whose parameters point into the receiver's memory (tree view
// items, the folder dialog's selection), the data is placed in the program's
// own address space.

struct Remote {
  void* p = nullptr;
  Remote(size_t n) {
    p = VirtualAllocEx(gProc.hProcess, nullptr, n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!p) fail("cannot allocate memory in the program");
  }
  ~Remote() { if (p) VirtualFreeEx(gProc.hProcess, p, 0, MEM_RELEASE); }
  void put(size_t off, const void* d, size_t n) {
    WriteProcessMemory(gProc.hProcess, (char*)p + off, d, n, nullptr);
  }
  void get(size_t off, void* d, size_t n) {
    ReadProcessMemory(gProc.hProcess, (char*)p + off, d, n, nullptr);
  }
  LPARAM at(size_t off) { return (LPARAM)((char*)p + off); }
};

HWND treeOf(HWND dlg) {
  for (HWND c : children(dlg)) if (winClass(c) == WC_TREEVIEWA) return c;
  fail("the dialog has no tree view");
}

std::string treeItemText(HWND tree, HTREEITEM item) {
  Remote mem(sizeof(TVITEMA) + 1024);
  TVITEMA it = {};
  it.mask = TVIF_TEXT;
  it.hItem = item;
  it.pszText = (LPSTR)mem.at(sizeof it);
  it.cchTextMax = 1000;
  mem.put(0, &it, sizeof it);
  DWORD_PTR r = 0;
  SendMessageTimeoutA(tree, TVM_GETITEMA, 0, mem.at(0), SMTO_ABORTIFHUNG, 5000, &r);
  char buf[1024] = {0};
  mem.get(sizeof it, buf, 1000);
  return buf;
}

// The selected item's label path from the root, joined with "/".
std::string treeSelection(HWND tree) {
  DWORD_PTR item = 0;
  SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, 5000, &item);
  std::string path;
  while (item) {
    std::string label = treeItemText(tree, (HTREEITEM)item);
    path = path.empty() ? label : label + "/" + path;
    DWORD_PTR parent = 0;
    SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item, SMTO_ABORTIFHUNG, 5000, &parent);
    item = parent;
  }
  return path;
}

DWORD_PTR treeNext(HWND tree, UINT how, DWORD_PTR item) {
  DWORD_PTR r = 0;
  SendMessageTimeoutA(tree, TVM_GETNEXTITEM, how, (LPARAM)item, SMTO_ABORTIFHUNG, 5000, &r);
  return r;
}

// Whether a tree label is the one a path step names: the same text, or for
// a drive ("C:") the item that shows that drive.
bool labelMatches(const std::string& label, const std::string& step) {
  if (label == step) return true;
  return step.size() == 2 && step[1] == ':' && label.find("(" + step + ")") != std::string::npos;
}

// Walks a tree the way a user does: find the item at each level, expand it,
// go one level down; the last item is selected.
void treeSelect(HWND tree, const std::vector<std::string>& steps) {
  DWORD_PTR level = treeNext(tree, TVGN_ROOT, 0);
  DWORD_PTR found = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    found = 0;
    for (DWORD_PTR it = level; it && !found; it = treeNext(tree, TVGN_NEXT, it))
      if (labelMatches(treeItemText(tree, (HTREEITEM)it), steps[i])) found = it;
    if (!found && i == 0)  // the single root (the desktop) may be left out
      for (DWORD_PTR it = treeNext(tree, TVGN_CHILD, level); it && !found; it = treeNext(tree, TVGN_NEXT, it))
        if (labelMatches(treeItemText(tree, (HTREEITEM)it), steps[i])) found = it;
    if (!found) fail("no tree item " + show(steps[i]) + " at that level");
    DWORD_PTR r;
    SendMessageTimeoutA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)found, SMTO_ABORTIFHUNG, 10000, &r);
    level = treeNext(tree, TVGN_CHILD, found);
  }
  DWORD_PTR r;
  SendMessageTimeoutA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)found, SMTO_ABORTIFHUNG, 10000, &r);
}

// Selects a folder given as a drive path ("C:\\a\\b"): finds the drive below
// the desktop's items (it sits under the computer item), then walks down.
void treeSelectPath(HWND tree, const std::string& path) {
  std::vector<std::string> steps;
  std::string cur;
  for (const char* p = path.c_str(); *p;) {
    const char* n = CharNextExA(932, p, 0);
    if (*p == '\\') { if (!cur.empty()) steps.push_back(cur); cur.clear(); }
    else cur.append(p, n - p);
    p = n;
  }
  if (!cur.empty()) steps.push_back(cur);
  if (steps.empty() || steps[0].size() != 2 || steps[0][1] != ':') fail("not a drive path: " + show(path));
  DWORD_PTR root = treeNext(tree, TVGN_ROOT, 0);
  for (DWORD_PTR it = treeNext(tree, TVGN_CHILD, root); it; it = treeNext(tree, TVGN_NEXT, it)) {
    DWORD_PTR r;
    SendMessageTimeoutA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)it, SMTO_ABORTIFHUNG, 10000, &r);
    for (DWORD_PTR d = treeNext(tree, TVGN_CHILD, it); d; d = treeNext(tree, TVGN_NEXT, d)) {
      if (!labelMatches(treeItemText(tree, (HTREEITEM)d), steps[0])) continue;
      std::vector<std::string> full = {treeItemText(tree, (HTREEITEM)it)};
      full.insert(full.end(), steps.begin(), steps.end());
      treeSelect(tree, full);
      return;
    }
  }
  fail("no drive " + steps[0] + " in the tree");
}

// ------------------------------------------------------------ commands ---

void needArgs(const std::vector<Tok>& t, size_t n, const char* usage) {
  if (t.size() < n + 1) scriptError(std::string("usage: ") + usage);
}

std::string gLastMsgboxText;

void cmdStart(const std::vector<Tok>& t) {
  needArgs(t, 1, "start EXE [cwd DIR] [args TEXT]");
  if (gStarted && !gExitChecked) scriptError("check how the previous run ended first (expect-exit or kill)");
  if (gStarted) {
    // The next run of the case: the previous program has ended.
    CloseHandle(gProc.hProcess);
    CloseHandle(gProc.hThread);
    gStarted = false;
    gWins.clear();
  }
  gExitChecked = false;
  // Program, folder and arguments go to the system as UTF-16 straight from
  // the script, so that they may hold characters code page 932 has not.
  std::wstring exe = wideFrom(CP_UTF8, t[1].text), cwd, args;
  for (size_t i = 2; i + 1 < t.size(); i += 2) {
    if (t[i].text == "cwd") cwd = wideFrom(CP_UTF8, t[i + 1].text);
    else if (t[i].text == "args") args = wideFrom(CP_UTF8, t[i + 1].text);
    else scriptError("unknown start option " + t[i].text);
  }
  std::wstring cmd = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  std::vector<wchar_t> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back(0);
  if (!CreateProcessW(exe.c_str(), cmdBuf.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      cwd.empty() ? nullptr : cwd.c_str(), &si, &gProc))
    fail(fmt("cannot start %s (error %lu)", t[1].text.c_str(), GetLastError()));
  gStarted = true;
  out("info pid=%lu", gProc.dwProcessId);
}

HWND findTop(const std::string& cls, const std::string* title, int visibility) {
  for (HWND h : topWindows()) {
    if (lstrcmpiA(winClass(h).c_str(), cls.c_str()) != 0) continue;
    if (title && winText(h) != *title) continue;
    if (visibility == 1 && !IsWindowVisible(h)) continue;
    if (visibility == 0 && IsWindowVisible(h)) continue;
    return h;
  }
  return nullptr;
}

// wait-window NAME class CLS [title T] [visible|hidden]
void cmdWaitWindow(const std::vector<Tok>& t) {
  needArgs(t, 3, "wait-window NAME class CLASS [title TEXT] [visible|hidden]");
  requireStarted();
  std::string cls, title;
  bool hasTitle = false;
  int vis = -1;
  for (size_t i = 2; i < t.size(); ++i) {
    if (t[i].text == "class" && i + 1 < t.size()) cls = toSjis(t[++i].text);
    else if (t[i].text == "title" && i + 1 < t.size()) { title = toSjis(t[++i].text); hasTitle = true; }
    else if (t[i].text == "visible") vis = 1;
    else if (t[i].text == "hidden") vis = 0;
    else scriptError("unknown wait-window option " + t[i].text);
  }
  if (cls.empty()) scriptError("wait-window needs a class");
  HWND found = nullptr;
  if (!poll([&] { return (found = findTop(cls, hasTitle ? &title : nullptr, vis)) != nullptr; },
            gTimeoutMs, "window of class " + cls))
    fail("no window of class " + cls + (hasTitle ? " titled " + show(title) : "") +
         (vis == 1 ? " visible" : vis == 0 ? " hidden" : "") + " appeared");
  bindWin(t[1].text, found);
}

// wait-dialog NAME [title T] [tree]: a dialog (#32770) of the program that is
// not a message box, e.g. the folder browser.
void cmdWaitDialog(const std::vector<Tok>& t) {
  needArgs(t, 1, "wait-dialog NAME [title TEXT]");
  requireStarted();
  std::string title;
  bool hasTitle = false;
  for (size_t i = 2; i < t.size(); ++i) {
    if (t[i].text == "title" && i + 1 < t.size()) { title = toSjis(t[++i].text); hasTitle = true; }
    else scriptError("unknown wait-dialog option " + t[i].text);
  }
  HWND found = nullptr;
  if (!poll([&] {
        for (HWND h : topWindows())
          if (IsWindowVisible(h) && winClass(h) == "#32770" && !isMessageBox(h) &&
              (!hasTitle || winText(h) == title)) { found = h; return true; }
        return false;
      }, gTimeoutMs, "a dialog"))
    fail("no dialog appeared");
  bindWin(t[1].text, found);
}

// expect-msgbox TEXT [caption T] [owner NAME|none] [buttons SET] [as NAME] [answer BUTTON]
// [prefix yes] (the text only begins with TEXT: a system's error wording follows)
void cmdExpectMsgbox(const std::vector<Tok>& t) {
  needArgs(t, 1, "expect-msgbox TEXT [caption T] [owner NAME|none] [buttons SET] [as NAME] [answer BUTTON]");
  requireStarted();
  std::string text = toSjis(t[1].text), caption, owner, buttons, answer, as;
  bool hasCaption = false, hasOwner = false, prefix = false;
  for (size_t i = 2; i + 1 < t.size(); i += 2) {
    const std::string& k = t[i].text;
    if (k == "caption") { caption = toSjis(t[i + 1].text); hasCaption = true; }
    else if (k == "prefix") prefix = t[i + 1].text == "yes";
    else if (k == "owner") { owner = t[i + 1].text; hasOwner = true; }
    else if (k == "buttons") buttons = buttonsOf(t[i + 1].text);
    else if (k == "answer") answer = t[i + 1].text;
    else if (k == "as") as = t[i + 1].text;
    else scriptError("unknown expect-msgbox option " + k);
  }
  if ((t.size() - 2) % 2) scriptError("expect-msgbox options come in pairs");
  HWND box = nullptr;
  std::string seen;
  // A message box is modal: while one with another text stays open, the
  // expected one cannot come, so a lasting mismatch ends the wait early.
  HWND wrongBox = nullptr;
  DWORD wrongSince = 0;
  bool ok = poll([&] {
    box = findMessageBox();
    if (!box) return false;
    HWND st = GetDlgItem(box, 0xFFFF);
    seen = winText(st);
    if (seen == text || (prefix && seen.compare(0, text.size(), text) == 0)) return true;
    if (box != wrongBox) { wrongBox = box; wrongSince = GetTickCount(); }
    if (GetTickCount() - wrongSince > 2000) fail("message box text " + show(seen) + ", wanted " + show(text));
    return false;
  }, gTimeoutMs, "a message box");
  if (!ok) {
    if (box) fail("message box text " + show(seen) + ", wanted " + show(text));
    fail("no message box appeared; wanted " + show(text));
  }
  gLastMsgboxText = seen;
  if (hasCaption) {
    std::string got = winText(box);
    if (got != caption) fail("message box caption " + show(got) + ", wanted " + show(caption));
  }
  if (hasOwner) {
    HWND want = owner == "none" ? nullptr : findBound(owner);
    HWND got = GetWindow(box, GW_OWNER);
    if (got != want) fail("message box owner " + ownerName(got) + ", wanted " + owner);
  }
  if (!buttons.empty()) {
    std::string got = dialogButtons(box);
    if (got != buttons) fail("message box buttons " + got + ", wanted " + buttons);
  }
  if (!as.empty()) bindWin(as, box);
  if (!answer.empty()) answerDialog(box, answer);
}

void cmdExpectExit(const std::vector<Tok>& t) {
  needArgs(t, 1, "expect-exit CODE");
  requireStarted();
  long long want = evalExpr(t[1].text);
  if (WaitForSingleObject(gProc.hProcess, gTimeoutMs) != WAIT_OBJECT_0) {
    std::string msg = "the program did not exit";
    if (HWND box = findMessageBox()) msg += "; a message box is open: " + show(winText(GetDlgItem(box, 0xFFFF)));
    fail(msg);
  }
  DWORD code = 0;
  GetExitCodeProcess(gProc.hProcess, &code);
  gExitChecked = true;
  if ((long long)code != want) fail(fmt("exit code %lu, wanted %lld", code, want));
}

void cmdClick(const std::vector<Tok>& t) {
  needArgs(t, 1, "click NAME:ID");
  HWND h = resolve(t[1].text);
  // A user can only click a button that is shown and enabled in an enabled window.
  if (!IsWindowVisible(h)) fail(t[1].text + " is not visible");
  for (HWND w = h; w; w = (GetWindowLongA(w, GWL_STYLE) & WS_CHILD) ? GetParent(w) : nullptr)
    if (!IsWindowEnabled(w)) fail(t[1].text + " cannot be clicked: " + (w == h ? "it" : "its window") + " is disabled");
  PostMessageA(h, BM_CLICK, 0, 0);
}

void cmdSetText(const std::vector<Tok>& t) {
  needArgs(t, 2, "set-text NAME:ID TEXT");
  HWND h = resolve(t[1].text);
  std::string s = toSjis(t[2].text);
  DWORD_PTR r;
  if (!SendMessageTimeoutW(h, WM_SETTEXT, 0, (LPARAM)w932(s).c_str(), SMTO_ABORTIFHUNG, 5000, &r))
    fail("the control does not answer WM_SETTEXT");
}

// Types characters one by one at the end of the control's text, as keyboard
// input arrives in it.
void cmdType(const std::vector<Tok>& t) {
  needArgs(t, 2, "type NAME:ID TEXT");
  HWND h = resolve(t[1].text);
  // Each character is sent as a Unicode WM_CHAR: Wine's conversion of posted
  // ANSI character messages splits double-byte characters wrongly.
  // The caret goes to the end first, as after a click behind the text.
  DWORD_PTR r0;
  SendMessageTimeoutA(h, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF, SMTO_ABORTIFHUNG, 5000, &r0);
  std::wstring w = wideFrom(CP_UTF8, t[2].text);
  for (wchar_t c : w) {
    DWORD_PTR r;
    if (!SendMessageTimeoutW(h, WM_CHAR, c, 1, SMTO_ABORTIFHUNG, 5000, &r))
      fail("the control does not take typed characters");
  }
  DWORD_PTR r;
  SendMessageTimeoutA(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);  // after the posted characters
}

// Selects the first item of a combo box that begins with TEXT, as a click
// in its list does (the control's own CB_SELECTSTRING).
void cmdSelect(const std::vector<Tok>& t) {
  needArgs(t, 2, "select NAME:ID TEXT");
  HWND h = resolve(t[1].text);
  std::wstring w = wideFrom(CP_UTF8, t[2].text);
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(h, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)w.c_str(), SMTO_ABORTIFHUNG, 5000, &r) ||
      (LRESULT)r == CB_ERR)
    fail("the combo box has no item " + t[2].text);
}

// Drops files on a window as the shell does: a WM_DROPFILES whose handle is
// a DROPFILES block with the paths (wide). A global memory handle of this
// process means nothing in the program's, so the block is written into the
// program's own memory, where a fixed block's handle is its address.
void cmdDrop(const std::vector<Tok>& t) {
  needArgs(t, 2, "drop NAME PATH...");
  requireStarted();
  HWND h = findBound(t[1].text);
  std::wstring list;
  for (size_t i = 2; i < t.size(); ++i) list += wideFrom(CP_UTF8, t[i].text) + L'\0';
  list += L'\0';
  std::string block(sizeof(DROPFILES) + list.size() * sizeof(wchar_t), '\0');
  DROPFILES* d = (DROPFILES*)block.data();
  d->pFiles = sizeof(DROPFILES);
  d->pt.x = 20;
  d->pt.y = 20;
  d->fNC = FALSE;
  d->fWide = TRUE;
  memcpy(d + 1, list.data(), list.size() * sizeof(wchar_t));
  void* there = VirtualAllocEx(gProc.hProcess, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  SIZE_T written = 0;
  if (!there || !WriteProcessMemory(gProc.hProcess, there, block.data(), block.size(), &written) ||
      written != block.size())
    fail("cannot put the dropped names into the program");
  if (!PostMessageW(h, WM_DROPFILES, (WPARAM)there, 0)) fail("the window takes no WM_DROPFILES");
}

void cmdScreenshot(const std::vector<Tok>& t) {
  settle();
  // Without a name the picture is named after the case.
  std::string name = t.size() > 1 ? t[1].text : std::string();
  out("@@screenshot %s", name.c_str());
  if (gAckDir.empty()) return;
  const std::string* caseName = findVar("CASE");
  std::string file = name.empty() ? (caseName ? *caseName : "shot") : name;
  std::string ack = toSjis(gAckDir + "\\" + file + ".done");
  if (!poll([&] { return GetFileAttributesA(ack.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000,
            "the screenshot", true))
    fail("the runner did not take screenshot " + name);
  DeleteFileA(ack.c_str());
}

void cmdExpectFile(const std::vector<Tok>& t) {
  needArgs(t, 2, "expect-file PATH exists|missing|folder [size N] [same-as PATH]");
  std::string path = toSjis(t[1].text);
  const std::string& state = t[2].text;
  DWORD attr = GetFileAttributesW(w932(path).c_str());
  if (state == "missing") {
    if (attr != INVALID_FILE_ATTRIBUTES) fail(show(path) + " exists");
    return;
  }
  if (attr == INVALID_FILE_ATTRIBUTES) fail(show(path) + " does not exist");
  bool isDir = (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (state == "folder") { if (!isDir) fail(show(path) + " is not a folder"); return; }
  if (state != "exists") scriptError("expect-file wants exists, missing or folder");
  if (isDir) fail(show(path) + " is a folder");
  for (size_t i = 3; i + 1 < t.size(); i += 2) {
    auto readAll = [](const std::string& p) {
      std::string d;
      FILE* f = _wfopen(w932(p).c_str(), L"rb");
      if (!f) fail("cannot read " + show(p));
      char b[65536];
      size_t n;
      while ((n = fread(b, 1, sizeof b, f)) > 0) d.append(b, n);
      fclose(f);
      return d;
    };
    if (t[i].text == "size") {
      size_t got = readAll(path).size();
      if ((long long)got != evalExpr(t[i + 1].text)) fail(fmt("%s has %zu bytes", show(path).c_str(), got));
    } else if (t[i].text == "same-as") {
      if (readAll(path) != readAll(toSjis(t[i + 1].text))) fail(show(path) + " differs from " + t[i + 1].text);
    } else {
      scriptError("unknown expect-file option " + t[i].text);
    }
  }
}

// wait-file PATH exists|missing [size-above N] [size-below N]: polls the
// file's state without opening it (the program may hold it open for writing),
// so it can follow a file that the program is still writing. It keeps
// waiting after the program has ended (a program it started may write).
void cmdWaitFile(const std::vector<Tok>& t) {
  needArgs(t, 2, "wait-file PATH exists|missing [size-above N] [size-below N]");
  std::string path = toSjis(t[1].text);
  const std::string& state = t[2].text;
  if (state != "exists" && state != "missing") scriptError("wait-file wants exists or missing");
  long long above = -1, below = -1;
  for (size_t i = 3; i + 1 < t.size(); i += 2) {
    if (t[i].text == "size-above") above = evalExpr(t[i + 1].text);
    else if (t[i].text == "size-below") below = evalExpr(t[i + 1].text);
    else scriptError("unknown wait-file option " + t[i].text);
  }
  if ((t.size() - 3) % 2) scriptError("wait-file options come in pairs");
  std::string seen = "missing";
  bool ok = poll([&] {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(w932(path).c_str(), GetFileExInfoStandard, &d)) { seen = "missing"; return state == "missing"; }
    long long size = ((long long)d.nFileSizeHigh << 32) | d.nFileSizeLow;
    seen = fmt("exists with %lld bytes", size);
    if (state == "missing") return false;
    return (above < 0 || size > above) && (below < 0 || size < below);
  }, gTimeoutMs, "a file", true);
  if (!ok) fail(show(path) + ": " + seen);
}

// The names in a folder (without "." and ".."), sorted, separated by spaces.
std::string folderListing(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(w932(folder + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) fail("cannot list " + show(folder));
  do {
    std::string n = wideTo(932, fd.cFileName);
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(names.begin(), names.end());
  std::string s;
  for (auto& n : names) s += (s.empty() ? "" : " ") + n;
  return s;
}

// Whether a process with that program file name (e.g. "marker.exe") runs in
// the Wine session.
bool processRunning(const std::string& exeName) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) fail("cannot list the processes");
  PROCESSENTRY32 pe = {};
  pe.dwSize = sizeof pe;
  bool found = false;
  for (BOOL more = Process32First(snap, &pe); more && !found; more = Process32Next(snap, &pe)) {
    const char* base = pe.szExeFile;
    for (const char* p = pe.szExeFile; *p; ++p) if (*p == '\\') base = p + 1;
    found = lstrcmpiA(base, exeName.c_str()) == 0;
  }
  CloseHandle(snap);
  return found;
}

std::vector<std::string> readLines(const std::string& path);

void runCommand(const std::vector<Tok>& t) {
  const std::string& c = t[0].text;
  if (c == "set") { needArgs(t, 2, "set NAME TEXT"); setVar(t[1].text, t[2].text); }
  else if (c == "let") { needArgs(t, 2, "let NAME EXPR"); setVar(t[1].text, fmt("%lld", evalExpr(t[2].text))); }
  else if (c == "timeout") { needArgs(t, 1, "timeout SECONDS"); gTimeoutMs = (DWORD)(evalExpr(t[1].text) * 1000); }
  else if (c == "expect-timeout") { needArgs(t, 1, "expect-timeout SECONDS"); gExpectTimeoutMs = (DWORD)(evalExpr(t[1].text) * 1000); }
  else if (c == "print") {
    std::string s;
    for (size_t i = 1; i < t.size(); ++i) s += (i > 1 ? " " : "") + t[i].text;
    out("info %s", s.c_str());
  }
  else if (c == "print-expr") { needArgs(t, 1, "print-expr EXPR"); out("info %s = %lld", t[1].text.c_str(), evalExpr(t[1].text)); }
  else if (c == "start") cmdStart(t);
  else if (c == "wait-window") cmdWaitWindow(t);
  else if (c == "wait-dialog") cmdWaitDialog(t);
  else if (c == "expect-window" || c == "expect-control") {
    needArgs(t, 1, "expect-window NAME[:ID] ATTRIBUTES...");
    std::vector<Check> checks, rest;
    parseAttrs(t, 2, checks);
    DWORD timeoutMs = gExpectTimeoutMs;
    for (auto& k : checks)
      if (k.what == "within") timeoutMs = (DWORD)(evalExpr(k.args[0]) * 1000);
      else rest.push_back(k);
    expectAttrs(t[1].text, resolve(t[1].text), rest, timeoutMs);
  }
  else if (c == "expect-msgbox") cmdExpectMsgbox(t);
  else if (c == "expect-no-msgbox") {
    requireStarted();
    if (HWND box = findMessageBox()) fail("a message box is open: " + show(winText(GetDlgItem(box, 0xFFFF))));
  }
  else if (c == "answer") { needArgs(t, 2, "answer NAME BUTTON"); answerDialog(findBound(t[1].text), t[2].text); }
  else if (c == "click") cmdClick(t);
  else if (c == "set-text") cmdSetText(t);
  else if (c == "type") cmdType(t);
  else if (c == "close") { needArgs(t, 1, "close NAME"); PostMessageA(findBound(t[1].text), WM_CLOSE, 0, 0); }
  else if (c == "wait-gone") {
    needArgs(t, 1, "wait-gone NAME");
    HWND h = findBound(t[1].text);
    if (!poll([&] { return !IsWindow(h) || !IsWindowVisible(h); }, gTimeoutMs, t[1].text, true))
      fail(t[1].text + " is still shown");
  }
  else if (c == "expect-running") {
    requireStarted();
    DWORD code;
    if (processEnded(&code)) fail(fmt("the program has ended with exit code %lu", code));
  }
  else if (c == "expect-exit") cmdExpectExit(t);
  else if (c == "kill") { requireStarted(); TerminateProcess(gProc.hProcess, 99); WaitForSingleObject(gProc.hProcess, 5000); gExitChecked = true; }
  else if (c == "screenshot") cmdScreenshot(t);
  else if (c == "drop") cmdDrop(t);
  else if (c == "select") cmdSelect(t);
  else if (c == "sleep") { needArgs(t, 1, "sleep MS"); Sleep((DWORD)evalExpr(t[1].text)); }
  else if (c == "browse-select") {
    // Selects a folder in a folder dialog's tree, as the dialog's own
    // selection message does it (BFFM_SETSELECTIONA with a path).
    needArgs(t, 2, "browse-select NAME PATH");
    HWND dlg = findBound(t[1].text);
    std::string path = toSjis(t[2].text);
    Remote mem(path.size() + 1);
    mem.put(0, path.c_str(), path.size() + 1);
    DWORD_PTR r;
    SendMessageTimeoutA(dlg, WM_USER + 102, TRUE, mem.at(0), SMTO_ABORTIFHUNG, 5000, &r);
  }
  else if (c == "tree-select") {
    needArgs(t, 2, "tree-select NAME LABEL...");
    std::vector<std::string> steps;
    for (size_t i = 2; i < t.size(); ++i) steps.push_back(toSjis(t[i].text));
    treeSelect(treeOf(findBound(t[1].text)), steps);
  }
  else if (c == "tree-select-path") {
    needArgs(t, 2, "tree-select-path NAME DRIVE-PATH");
    treeSelectPath(treeOf(findBound(t[1].text)), toSjis(t[2].text));
  }
  else if (c == "expect-tree-selection") {
    needArgs(t, 2, "expect-tree-selection NAME LABEL-PATH");
    HWND tree = treeOf(findBound(t[1].text));
    std::string want = toSjis(t[2].text), got;
    if (!poll([&] { got = treeSelection(tree); return got == want; }, gTimeoutMs, "the tree selection"))
      fail("tree selection " + show(got) + ", wanted " + show(want));
  }
  else if (c == "print-tree") {
    // For writing cases: the expanded items of a dialog's tree and the selection.
    needArgs(t, 1, "print-tree NAME");
    HWND tree = treeOf(findBound(t[1].text));
    DWORD_PTR item = 0;
    SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, SMTO_ABORTIFHUNG, 5000, &item);
    while (item) {
      out("info tree item %s", show(treeItemText(tree, (HTREEITEM)item)).c_str());
      SendMessageTimeoutA(tree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, (LPARAM)item, SMTO_ABORTIFHUNG, 5000, &item);
    }
    out("info tree selection %s", show(treeSelection(tree)).c_str());
  }
  else if (c == "expect-file") cmdExpectFile(t);
  else if (c == "expect-child-order") {
    // The ids of a window's children in z-order (which is creation order
    // for controls created one after another).
    needArgs(t, 2, "expect-child-order NAME ID...");
    HWND top = findBound(t[1].text);
    std::string want, got;
    for (size_t i = 2; i < t.size(); ++i) want += fmt("%s%lld", i > 2 ? " " : "", evalExpr(t[i].text));
    for (HWND k = GetWindow(top, GW_CHILD); k; k = GetWindow(k, GW_HWNDNEXT))
      got += fmt("%s%d", got.empty() ? "" : " ", GetDlgCtrlID(k));
    if (got != want) fail("child order " + got + ", wanted " + want);
  }
  else if (c == "expect-children-inside") {
    // Every shown child lies wholly inside the window's client area.
    needArgs(t, 1, "expect-children-inside NAME");
    HWND top = findBound(t[1].text);
    RECT client;
    GetClientRect(top, &client);
    for (HWND k = GetWindow(top, GW_CHILD); k; k = GetWindow(k, GW_HWNDNEXT)) {
      if (!IsWindowVisible(k)) continue;
      RECT r = placement(k);
      if (r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom)
        fail(fmt("control %d at %ld %ld %ld %ld is not inside the client area %ld x %ld", GetDlgCtrlID(k), r.left,
                 r.top, r.right - r.left, r.bottom - r.top, client.right, client.bottom));
    }
    out("info client area %ld x %ld", client.right, client.bottom);
  }
  else if (c == "expect-no-control-focus") {
    // No control of the window holds the keyboard focus.
    needArgs(t, 1, "expect-no-control-focus NAME");
    HWND top = findBound(t[1].text);
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof gi;
    GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &gi);
    if (gi.hwndFocus && gi.hwndFocus != top && IsChild(top, gi.hwndFocus))
      fail(fmt("control %d has the focus", GetDlgCtrlID(gi.hwndFocus)));
  }
  else if (c == "include") {
    needArgs(t, 1, "include FILE");
    std::vector<std::string> inc = readLines(toSjis(t[1].text));
    if (inc.empty()) scriptError("cannot read " + t[1].text);
    int saved = gLine;
    for (size_t i = 0; i < inc.size(); ++i) {
      std::vector<Tok> it = tokenize(inc[i]);
      if (it.empty()) continue;
      try {
        runCommand(it);
      } catch (Failure& f) {
        f.msg = fmt("%s:%zu: ", t[1].text.c_str(), i + 1) + f.msg;
        throw;
      } catch (ScriptError& e) {
        e.msg = fmt("%s:%zu: ", t[1].text.c_str(), i + 1) + e.msg;
        throw;
      }
    }
    gLine = saved;
  }
  else if (c == "wait-file") cmdWaitFile(t);
  else if (c == "expect-listing") {
    // The folder holds exactly these names (any order; none: it is empty).
    needArgs(t, 1, "expect-listing FOLDER [NAME...]");
    std::vector<std::string> want;
    for (size_t i = 2; i < t.size(); ++i) want.push_back(toSjis(t[i].text));
    std::sort(want.begin(), want.end());
    std::string w;
    for (auto& n : want) w += (w.empty() ? "" : " ") + n;
    std::string got = folderListing(toSjis(t[1].text));
    if (got != w) fail(t[1].text + " holds " + show(got) + ", wanted " + show(w));
  }
  else if (c == "suspend" || c == "resume") {
    // Stops or continues the program's main thread, so that a step (a
    // click) is posted while the program stands at a known point of its work.
    requireStarted();
    if (processEnded()) fail("the program has ended");
    DWORD r = c == "suspend" ? SuspendThread(gProc.hThread) : ResumeThread(gProc.hThread);
    if (r == (DWORD)-1) fail(fmt("%s failed (error %lu)", c.c_str(), GetLastError()));
  }
  else if (c == "wait-no-process") {
    // Waits until no process of that program file name runs (any that was
    // started has then done all it does).
    needArgs(t, 1, "wait-no-process NAME.exe");
    std::string name = toSjis(t[1].text);
    if (!poll([&] { return !processRunning(name); }, gTimeoutMs, "a process", true))
      fail(t[1].text + " is still running");
  }
  else if (c == "stopwatch-start") {
    // Times a stretch of the script (e.g. from the click that starts a run
    // to the message that ends it), for benchmark cases: a recording, never
    // a check.
    QueryPerformanceCounter(&gStopwatch);
  }
  else if (c == "stopwatch-save") {
    needArgs(t, 1, "stopwatch-save PATH");
    LARGE_INTEGER now, rate;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&rate);
    const double seconds = (double)(now.QuadPart - gStopwatch.QuadPart) / (double)rate.QuadPart;
    out("info stopwatch: %.3f s", seconds);
    FILE* f = fopen(toSjis(t[1].text).c_str(), "wb");
    if (!f) fail("cannot write " + t[1].text);
    fprintf(f, "%.6f\n", seconds);
    fclose(f);
  }
  else if (c == "wait-drive") {
    // Waits until the system lists drive LETTER. Wine answers the list
    // through its mount manager, a service of the session that may still be
    // starting when the first program runs; until then the list is empty,
    // and so is the shell's "My Computer".
    needArgs(t, 1, "wait-drive LETTER");
    const int bit = (t[1].text[0] | 0x20) - 'a';
    if (t[1].text.size() != 1 || bit < 0 || bit > 25) scriptError("wait-drive takes one drive letter");
    if (!poll([&] { return (GetLogicalDrives() >> bit & 1) != 0; }, gTimeoutMs, "drive " + t[1].text, true))
      fail("the system lists no drive " + t[1].text);
  }
  else if (c == "make-folder") { needArgs(t, 1, "make-folder PATH"); CreateDirectoryW(w932(toSjis(t[1].text)).c_str(), nullptr); }
  else if (c == "write-file") {
    needArgs(t, 2, "write-file PATH TEXT");
    FILE* f = _wfopen(w932(toSjis(t[1].text)).c_str(), L"wb");
    if (!f) fail("cannot write " + t[1].text);
    std::string s = toSjis(t[2].text);
    fwrite(s.data(), 1, s.size(), f);
    fclose(f);
  }
  else scriptError("unknown command " + c);
}

std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return lines;
  std::string cur;
  int ch;
  while ((ch = fgetc(f)) != EOF) {
    if (ch == '\n') { lines.push_back(cur); cur.clear(); }
    else if (ch != '\r') cur += (char)ch;
  }
  if (!cur.empty()) lines.push_back(cur);
  fclose(f);
  return lines;
}

void cleanup() {
  if (gStarted && !processEnded()) {
    TerminateProcess(gProc.hProcess, 99);
    WaitForSingleObject(gProc.hProcess, 5000);
  }
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(wideTo(CP_UTF8, wargv[i]));
  std::string script;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--ack-dir" && i + 1 < args.size()) gAckDir = args[++i];
    else if (args[i] == "-D" && i + 1 < args.size()) {
      size_t eq = args[++i].find('=');
      if (eq == std::string::npos) { out("FAIL bad -D %s", args[i].c_str()); return 2; }
      setVar(args[i].substr(0, eq), args[i].substr(eq + 1));
    } else {
      script = args[i];
    }
  }
  if (script.empty()) {
    out("usage: e2e_driver.exe [--ack-dir DIR] [-D NAME=VALUE]... SCRIPT");
    return 2;
  }
  gScriptName = script.c_str();
  std::vector<std::string> lines = readLines(toSjis(script));
  if (lines.empty()) { out("FAIL cannot read script %s", script.c_str()); return 2; }
  initMetrics();
  out("info cw=%d lh=%d jcw=%d jlh=%d desktop=%ld,%ld,%ld,%ld", gCharWidth, gLineHeight, gJapaneseCharWidth,
      gJapaneseLineHeight, gDesk.left,
      gDesk.top, gDesk.right, gDesk.bottom);
  int status = 0;
  try {
    for (gLine = 1; gLine <= (int)lines.size(); ++gLine) {
      std::vector<Tok> t = tokenize(lines[gLine - 1]);
      if (t.empty()) continue;
      DWORD t0 = GetTickCount();
      runCommand(t);
      out("ok %d: %s (%lu ms)", gLine, lines[gLine - 1].c_str(), GetTickCount() - t0);
    }
    if (gStarted && !gExitChecked) {
      if (!processEnded()) fail("the script ended while the program is still running (end it with expect-exit or kill)");
      scriptError("the script ended without checking the exit code (expect-exit)");
    }
  } catch (const Failure& f) {
    out("FAIL %s:%d: %s", gScriptName, gLine, f.msg.c_str());
    if (gLine >= 1 && gLine <= (int)lines.size()) out("     at: %s", lines[gLine - 1].c_str());
    status = 1;
    // The screen as the failure found it (<case>-failed.png), for the reader of the log.
    try {
      cmdScreenshot({Tok{"screenshot", false}, Tok{"failed", false}});
    } catch (...) {
    }
  } catch (const ScriptError& e) {
    out("FAIL %s:%d: script error: %s", gScriptName, gLine, e.msg.c_str());
    status = 2;
  }
  cleanup();
  out(status == 0 ? "PASS" : "FAIL");
  return status;
}
