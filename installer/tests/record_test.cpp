#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/dirs.h"
#include "installer/record.h"
#include "platform/fake/fake_ops.h"

namespace {

TEST(Record, OnlyARootWithItsLibraryDirectoryIsAnInstallation) {
  const std::string root249 = "C:\\" + std::string(246, 'r'), root250 = root249 + 'r';
  struct Case {
    std::string data;
    int found;
    std::string root;
  } cases[] = {
      {std::string("C:\\rt", 6), 1, "C:\\rt"},           {"C:\\rt", 1, "C:\\rt"},  // no terminator
      {std::string("C:\\rt\0junk\0", 11), 1, "C:\\rt"},  {std::string("C:\\no", 6), 0, "C:\\no"},
      {std::string("C:\\lib", 7), 0, "C:\\lib"},  // bin\win32 is a file
      {"", 0, ""},                                // not the current drive's \bin\win32
      {root249 + '\0', 1, root249},
      {root250 + '\0', 0, root250},  // its library directory cannot be named
      {std::string(260, 'x'), 0, std::string(259, 'x')},
  };
  for (const Case& c : cases) {
    fake::reset();
    for (const auto& root : {std::string("C:\\rt"), std::string(""), root249, root250})
      fake::add_tree(root + "\\bin\\win32");
    fake::world().files.insert("C:\\lib\\bin\\win32");
    fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {1, c.data};
    char buf[installer::kPathCapacity + 16];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(installer::read_installation_record(buf, installer::kPathCapacity), c.found);
    EXPECT_EQ(std::string(buf, strnlen(buf, sizeof buf)), c.root);
    EXPECT_EQ(std::string(buf + installer::kPathCapacity, 16), std::string(16, 'G'));
    EXPECT_EQ(fake::world().open_keys, 0);
  }
  EXPECT_EQ(installer::read_installation_record(nullptr, 0), 0);
}

TEST(Record, WriteStoresTheRootOrReportsTheRegistryStatus) {
  fake::reset();
  auto& values = fake::world().registry[installer::kRecordKey];
  installer::write_installation_record("D:\\x");
  EXPECT_EQ(values[installer::kRecordValue].type, 1u);  // REG_SZ
  EXPECT_EQ(values[installer::kRecordValue].data, std::string("D:\\x", 5));
  values.clear();
  fake::world().error_texts[5] = "Access is denied.\r\n";
  fake::world().create_key_status = 5;
  installer::write_installation_record("D:\\x");
  fake::world().create_key_status = 0;
  fake::world().set_value_status = 1021;  // no text for it
  installer::write_installation_record("D:\\x");
  EXPECT_EQ(fake::world().out, "Error: Access is denied.\r\n\nError: system error 1021.\n");
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(fake::world().open_keys, 0);
  EXPECT_EQ(fake::world().texts_outstanding, 0);
}

}  // namespace
