#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/dirs.h"
#include "installer/record.h"
#include "platform/fake/fake_ops.h"
#include "platform/ops.h"

namespace {

class Record : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override {
    EXPECT_EQ(fake::world().open_keys, 0) << "a registry key was left open";
    EXPECT_EQ(fake::world().texts_outstanding, 0) << "an error text was not released";
  }
  fake::Value* stored() {
    auto& values = fake::world().registry[installer::kRecordKey];
    auto it = values.find(installer::kRecordValue);
    return it == values.end() ? nullptr : &it->second;
  }
};

TEST_F(Record, OnlyARootWithItsLibraryDirectoryIsAnInstallation) {
  const std::string root249 = "C:\\" + std::string(246, 'r');
  const std::string root250 = root249 + 'r';
  struct Case {
    std::string data;
    int found;
    std::string root;
  } cases[] = {
      {std::string("C:\\rt", 6), 1, "C:\\rt"},
      {"C:\\rt", 1, "C:\\rt"},  // stored without terminator
      {std::string("C:\\rt\0junk\0", 11), 1, "C:\\rt"},
      {std::string("C:\\lib", 7), 0, "C:\\lib"},    // bin\win32 is a file
      {std::string("C:\\none", 8), 0, "C:\\none"},  // bin\win32 is missing
      {"", 0, ""},  // not the current drive's \bin\win32
      {root249 + '\0', 1, root249},
      {root250 + '\0', 0, root250},  // its library path cannot be named
      {std::string(260, 'x'), 0, std::string(259, 'x')},
  };
  for (const Case& c : cases) {
    for (const auto& root : {std::string("C:\\rt"), std::string("\\"), root249, root250})
      fake::add_tree(root + "\\bin\\win32");
    fake::add_tree("C:\\lib\\bin");
    fake::world().files.insert("C:\\lib\\bin\\win32");
    fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {ops::kRegSz, c.data};
    char buf[installer::kPathCapacity + 16];
    std::memset(buf, 'G', sizeof buf);
    EXPECT_EQ(installer::read_installation_record(buf, installer::kPathCapacity), c.found);
    EXPECT_EQ(std::string(buf, strnlen(buf, sizeof buf)), c.root);
    EXPECT_EQ(std::string(buf + installer::kPathCapacity, 16), std::string(16, 'G'));
  }
  fake::world().registry.clear();  // no key
  char buf[installer::kPathCapacity];
  EXPECT_EQ(installer::read_installation_record(buf, sizeof buf), 0);
  EXPECT_EQ(installer::read_installation_record(nullptr, 0), 0);
}

TEST_F(Record, WriteStoresTheRootOrReportsTheRegistryStatus) {
  installer::write_installation_record("D:\\x");
  ASSERT_NE(stored(), nullptr);
  EXPECT_EQ(stored()->type, ops::kRegSz);
  EXPECT_EQ(stored()->data, std::string("D:\\x", 5));
  EXPECT_TRUE(fake::world().out.empty());

  fake::world().registry.clear();
  fake::world().error_texts[5] = "Access is denied.\r\n";
  fake::world().create_key_status = 5;
  installer::write_installation_record("D:\\x");
  fake::world().create_key_status = 0;
  fake::world().set_value_status = 1021;  // no text for it
  installer::write_installation_record("D:\\x");
  EXPECT_EQ(fake::world().out, "Error: Access is denied.\r\n\nError: system error 1021.\n");
  EXPECT_EQ(stored(), nullptr);
}

}  // namespace
