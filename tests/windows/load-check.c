/* Loads each library named on the command line as a host loads a plug-in (its own folder searched
   for what it imports) and says whether it loaded: "ok PATH" or "FAIL PATH: error N". Exits 1
   when one did not load. */
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  int failed = 0;
  /* A missing import must come back as an error, not as a dialog. */
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  for (int i = 1; i < argc; ++i) {
    HMODULE module = LoadLibraryExW(argv[i], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == NULL) {
      wprintf(L"FAIL %ls: error %lu\n", argv[i], GetLastError());
      failed = 1;
    } else {
      wprintf(L"ok   %ls\n", argv[i]);
      FreeLibrary(module);
    }
  }
  return failed;
}
