#include "core_run_support.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "archive/entries.h"
#include "archive/header.h"
#include "common/app_state.h"
#include "platform/host/fault_layer.h"
#include "platform/host/scripted_ui.h"

void startCoreRun(const std::string& archive, const std::string& target) {
  scripted::resetRun();
  bsRelease(const_cast<ByteString*>(previousEntryName()));
  freeLiveBlocks();
  std::filesystem::remove_all(target);
  std::filesystem::create_directory(target);
  std::filesystem::current_path(target);
  bind(&app.archiveFile, archive.c_str());
  openForReading(&app.archiveFile);
  EXPECT_EQ(readStubImageAndSize(), 0u);
  ByteString text = {};
  readHeaderString(&text);
  readHeaderString(&app.launchFile);
  readPasswordFields();
  bsRelease(&text);
}
