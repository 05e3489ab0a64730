// torvik_launch PROGRAM NAME [ARG...]: starts the Windows program PROGRAM
// with NAME as the first word of its command line, as a shell or make may
// name it, passes its standard handles on and exits with its status. The
// end-to-end cases start the Windows assembler through it, so that the
// program name of a case reaches the assembler as the case writes it.
// windows.h first: shellapi.h builds on its definitions.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// One word of a command line, quoted so that the C runtime's splitting
// gives it back unchanged.
std::wstring Quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
  std::wstring quoted = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    for (; i < word.size() && word[i] == L'\\'; ++i) ++backslashes;
    if (i == word.size()) {
      quoted.append(2 * backslashes, L'\\');
      break;
    }
    quoted.append(word[i] == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted.push_back(word[i]);
  }
  quoted.push_back(L'"');
  return quoted;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* const words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr || count < 3) return 125;
  std::wstring commandLine = Quoted(words[2]);
  for (int i = 3; i < count; ++i) commandLine += L" " + Quoted(words[i]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  // Wine has been seen to refuse a start now and then; a second try
  // succeeds.
  PROCESS_INFORMATION started{};
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessW(words[1], commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                         &started)) {
      break;
    }
    if (attempt == kAttempts) {
      std::fprintf(stderr, "torvik_launch: cannot start %ls: error %lu\n", words[1], ::GetLastError());
      return 126;
    }
    ::Sleep(100);
  }
  ::WaitForSingleObject(started.hProcess, INFINITE);
  DWORD status = 127;
  ::GetExitCodeProcess(started.hProcess, &status);
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return static_cast<int>(status);
}
