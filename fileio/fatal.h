// The fatal exits: each shows its message, then closes both files, deletes a
// partly written output file (one still open, or one whose close failed)
// and ends the process.
#pragma once

[[noreturn]] void closeFilesAndExit();
[[noreturn]] void failRead();
[[noreturn]] void failWrite();
// A block whose check fails, or a record or coded data that breaks the
// format's rules: "the file is damaged", exit code 1.
[[noreturn]] void failDamaged();
// The run's working memory could not be had: reported as a read failure.
[[noreturn]] void failOutOfMemory();
