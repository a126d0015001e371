#include "platform/host_windows/wide_names.h"

#include <windows.h>

#include <vector>

static const UINT kCodePage932 = 932;

bool winFromCp932(const char* bytes, size_t count, std::wstring* out) {
  out->clear();
  if (!count) return true;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char c = (unsigned char)bytes[i];
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (lead && i + 1 < count) {
      ++i;  // the pair is checked by the conversion
      continue;
    }
    if (c == 0x80 || c == 0xA0 || c >= 0xFD) return false;
  }
  const int n = MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, bytes, (int)count, 0, 0);
  if (n <= 0) return false;
  out->resize((size_t)n);
  return MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, bytes, (int)count, out->data(), n) == n;
}

// Exact conversion of UTF-16 to code page 932; false when some character
// has no form there.
static bool exactToCp932(const wchar_t* text, size_t count, std::string* out) {
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, text, (int)count, 0, 0, 0, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out->resize((size_t)n);
  return WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, text, (int)count, out->data(), n, 0,
                             &usedDefault) == n &&
         !usedDefault;
}

// Characters that stand for a code page 932 character of another code
// point: the JIS forms of a few characters that the code page took from
// other code points (the wave dash for the fullwidth tilde, and so on), and
// the yen sign and overline, which share 0x5C and 0x7E with ASCII. The
// POSIX build's conversion takes exactly these, so both builds give a name
// the same bytes (and refuse the same names for a "\" they would gain).
static const struct {
  wchar_t from;
  const char* to;
} kVariants[] = {
    {0x00A2, "\x81\x91"}, {0x00A3, "\x81\x92"}, {0x00A5, "\x5C"}, {0x00AC, "\x81\xCA"}, {0x2014, "\x81\x5C"},
    {0x2016, "\x81\x61"}, {0x203E, "\x7E"},      {0x2212, "\x81\x7C"}, {0x301C, "\x81\x60"},
};

bool winToCp932(const wchar_t* text, size_t count, std::string* out) {
  out->clear();
  if (!count || exactToCp932(text, count, out)) return true;
  out->clear();
  for (size_t i = 0; i < count; ++i) {
    std::string one;
    if (exactToCp932(text + i, 1, &one)) {
      *out += one;
      continue;
    }
    const char* variant = 0;
    for (const auto& v : kVariants)
      if (v.from == text[i]) variant = v.to;
    if (!variant) return false;
    *out += variant;
  }
  return true;
}

bool winFromUtf8(const char* bytes, size_t count, std::wstring* out) {
  out->clear();
  if (!count) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, (int)count, 0, 0);
  if (n <= 0) return false;
  out->resize((size_t)n);
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, (int)count, out->data(), n) == n;
}

bool winToUtf8(const wchar_t* text, size_t count, std::string* out) {
  out->clear();
  if (!count) return true;
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, (int)count, 0, 0, 0, 0);
  if (n <= 0) return false;
  out->resize((size_t)n);
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, (int)count, out->data(), n, 0, 0) == n;
}

// ---- paths ----

static std::wstring baseFolder;

void winSetBaseFolder(const std::wstring& absolute) { baseFolder = absolute; }

static bool isLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

static bool startsWith(const std::wstring& s, const wchar_t* prefix) { return s.compare(0, wcslen(prefix), prefix) == 0; }

// Splits an absolute path into its root in prefixed form ("\\?\C:" or
// "\\?\UNC\server\share") and what follows it. False for other forms.
static bool splitRoot(const std::wstring& p, std::wstring* root, std::wstring* rest) {
  if (startsWith(p, L"\\\\?\\UNC\\") || (startsWith(p, L"\\\\") && !startsWith(p, L"\\\\?\\") && !startsWith(p, L"\\\\.\\"))) {
    const size_t start = startsWith(p, L"\\\\?\\UNC\\") ? 8 : 2;
    size_t server = p.find(L'\\', start);
    if (server == std::wstring::npos || server == start) return false;
    size_t share = p.find(L'\\', server + 1);
    if (share == std::wstring::npos) share = p.size();
    if (share == server + 1) return false;
    *root = L"\\\\?\\UNC\\" + p.substr(start, share - start);
    *rest = p.substr(share);
    return true;
  }
  const size_t at = startsWith(p, L"\\\\?\\") ? 4 : 0;
  if (p.size() >= at + 2 && isLetter(p[at]) && p[at + 1] == L':' && (p.size() == at + 2 || p[at + 2] == L'\\')) {
    *root = L"\\\\?\\" + p.substr(at, 2);
    *rest = p.substr(at + 2);
    return true;
  }
  return false;
}

bool winSystemPath(const std::wstring& name, std::wstring* out) {
  if (startsWith(name, L"\\\\?\\") || startsWith(name, L"\\\\.\\")) {  // the system's own forms
    *out = name;
    return true;
  }
  std::wstring p = name;
  for (auto& c : p)
    if (c == L'/') c = L'\\';
  if (p.empty()) p = L".";
  std::wstring root, rest;
  if (!splitRoot(p, &root, &rest)) {
    if (startsWith(p, L"\\\\")) {  // a network name without a share: left to the system
      *out = p;
      return true;
    }
    std::wstring absolute;
    if (p[0] != L'\\' && !(p.size() >= 2 && p[1] == L':')) {
      // Relative: below the base folder.
      std::wstring base = baseFolder;
      if (base.empty()) {
        const DWORD n = GetCurrentDirectoryW(0, 0);
        if (!n) return false;
        std::vector<wchar_t> buffer(n + 1);
        const DWORD got = GetCurrentDirectoryW(n + 1, buffer.data());
        if (!got || got > n) return false;
        base.assign(buffer.data(), got);
      }
      absolute = base + L"\\" + p;
    } else {
      // Rooted on the current drive ("\x") or relative on a drive ("C:x"):
      // only the system knows the current folder of that drive.
      const DWORD n = GetFullPathNameW(p.c_str(), 0, 0, 0);
      if (!n) return false;
      std::vector<wchar_t> buffer(n + 1);
      const DWORD got = GetFullPathNameW(p.c_str(), n + 1, buffer.data(), 0);
      if (!got || got > n) return false;
      absolute.assign(buffer.data(), got);
    }
    if (!splitRoot(absolute, &root, &rest)) {
      *out = absolute;
      return true;
    }
  }
  std::vector<std::wstring> parts;
  for (size_t i = 0; i <= rest.size();) {
    size_t end = rest.find(L'\\', i);
    if (end == std::wstring::npos) end = rest.size();
    const std::wstring part = rest.substr(i, end - i);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    i = end + 1;
  }
  *out = root;
  for (const std::wstring& part : parts) *out += L"\\" + part;
  if (parts.empty()) *out += L"\\";
  return true;
}

static bool isDeviceName(const std::wstring& component) {
  std::wstring stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (auto& c : stem)
    if (c >= L'a' && c <= L'z') c = (wchar_t)(c - 32);
  for (const wchar_t* d : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (stem == d) return true;
  return stem.size() == 4 && (startsWith(stem, L"COM") || startsWith(stem, L"LPT")) && stem[3] >= L'1' &&
         stem[3] <= L'9';
}

bool winNameIsOdd(const std::wstring& relative) {
  for (size_t i = 0; i <= relative.size();) {
    size_t end = relative.find_first_of(L"\\/", i);
    if (end == std::wstring::npos) end = relative.size();
    const std::wstring part = relative.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == L"." || part == L"..") continue;
    if (part.back() == L'.' || part.back() == L' ') return true;
    for (wchar_t c : part)
      if (c < 0x20 || wcschr(L"<>:\"|?*", c)) return true;
    if (isDeviceName(part)) return true;
  }
  return false;
}
