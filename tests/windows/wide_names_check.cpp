// Checks of the Windows names (platform/host_windows/wide_names.cpp) that a
// tree on disk would reach only by chance: the forms of paths a user may
// type, the code page 932 conversions at their edges, and the names that
// Windows gives a meaning of their own. Built with vellicor.exe, run under
// Wine by run_windows_tool.py; prints each failure and exits with 1.
#include <stdio.h>
#include <windows.h>

#include <string>

#include "platform/host_windows/wide_names.h"

static int failures;

static std::string narrow(const std::wstring& w) {
  std::string s;
  winToUtf8(w.data(), w.size(), &s);
  return s;
}

static void expectPath(const wchar_t* name, const wchar_t* want) {
  std::wstring got;
  const bool ok = winSystemPath(name, &got);
  if (ok && got == want) return;
  ++failures;
  printf("winSystemPath(%s) = %s, want %s\n", narrow(name).c_str(), ok ? narrow(got).c_str() : "(failed)",
         narrow(want).c_str());
}

static void expectOdd(const wchar_t* name, bool want) {
  if (winNameIsOdd(name) == want) return;
  ++failures;
  printf("winNameIsOdd(%s) = %d, want %d\n", narrow(name).c_str(), !want, want);
}

static void expectFromCp932(const char* bytes, size_t count, const wchar_t* want) {
  std::wstring got;
  const bool ok = winFromCp932(bytes, count, &got);
  if (want ? ok && got == want : !ok) return;
  ++failures;
  printf("winFromCp932(%zu bytes from %02X) = %s, want %s\n", count, (unsigned char)bytes[0],
         ok ? narrow(got).c_str() : "(failed)", want ? narrow(want).c_str() : "(failed)");
}

static void expectToCp932(const wchar_t* text, const char* want) {
  std::string got;
  const bool ok = winToCp932(text, wcslen(text), &got);
  if (want ? ok && got == want : !ok) return;
  ++failures;
  printf("winToCp932(%s) %s, want %s\n", narrow(text).c_str(), ok ? "converted" : "failed",
         want ? "a conversion" : "a failure");
}

int main() {
  // Relative names below the base folder; "." and ".." and repeated
  // separators resolved, never above the root.
  winSetBaseFolder(L"\\\\?\\C:\\base\\dir");
  expectPath(L"a\\b", L"\\\\?\\C:\\base\\dir\\a\\b");
  expectPath(L"a/b/../c", L"\\\\?\\C:\\base\\dir\\a\\c");
  expectPath(L".\\a\\.\\\\b\\", L"\\\\?\\C:\\base\\dir\\a\\b");
  expectPath(L".\\", L"\\\\?\\C:\\base\\dir");
  expectPath(L"..\\..\\..\\..\\x", L"\\\\?\\C:\\x");
  expectPath(L"\x8cc7\x6599\\\x8868.txt", L"\\\\?\\C:\\base\\dir\\\x8cc7\x6599\\\x8868.txt");
  // Absolute forms.
  expectPath(L"D:\\x\\y", L"\\\\?\\D:\\x\\y");
  expectPath(L"d:/x/./y/", L"\\\\?\\d:\\x\\y");
  expectPath(L"D:\\", L"\\\\?\\D:\\");
  expectPath(L"D:\\..", L"\\\\?\\D:\\");
  expectPath(L"\\\\server\\share\\p\\..\\q", L"\\\\?\\UNC\\server\\share\\q");
  expectPath(L"//server/share", L"\\\\?\\UNC\\server\\share\\");
  // The system's own forms stay as they are.
  expectPath(L"\\\\?\\C:\\keep\\..\\as is", L"\\\\?\\C:\\keep\\..\\as is");
  expectPath(L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x");
  // Paths of any length.
  std::wstring deep = L"D:", want = L"\\\\?\\D:";
  for (int i = 0; i < 60; ++i) deep += L"\\folder-name", want += L"\\folder-name";
  expectPath(deep.c_str(), want.c_str());

  expectOdd(L".\\docs\\a.txt", false);
  expectOdd(L"CON", true);
  expectOdd(L"sub\\con.txt", true);
  expectOdd(L"sub\\LPT9", true);
  expectOdd(L"COM10", false);
  expectOdd(L"console", false);
  expectOdd(L"x.\\y", true);
  expectOdd(L"y ", true);
  expectOdd(L".hidden", false);
  expectOdd(L"a\\..\\b", false);
  expectOdd(L"what?", true);
  expectOdd(L"tab\t", true);

  expectFromCp932("\x83\x5C", 2, L"\x30bd");  // ソ: its second byte is the backslash
  expectFromCp932("a\\b", 3, L"a\\b");
  expectFromCp932("\x81\x60", 2, L"\xff5e");
  expectFromCp932("\x80", 1, nullptr);
  expectFromCp932("\xA0", 1, nullptr);
  expectFromCp932("\xFD", 1, nullptr);
  expectFromCp932("a\x81", 2, nullptr);  // a lead byte at the end
  expectFromCp932("\xA6", 1, L"\xff66");  // halfwidth katakana
  expectToCp932(L"\x8868", "\x95\x5C");
  expectToCp932(L"\x301c", "\x81\x60");  // the JIS wave dash
  expectToCp932(L"\x00a5", "\\");        // the yen sign (refused in names by the walk)
  expectToCp932(L"\x00e9", nullptr);     // no best fit: é is not e
  expectToCp932(L"\xd83d\xde00", nullptr);

  printf("wide names: %s (%d failure%s)\n", failures ? "FAILED" : "all checks passed", failures,
         failures == 1 ? "" : "s");
  return failures ? 1 : 0;
}
