#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer/paths.h"
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

  void store(const std::string& data, std::uint32_t type = ops::kRegSz) {
    fake::world().registry[installer::kRecordKey][installer::kRecordValue] = {type, data};
  }
  const fake::Value* stored() {
    auto& keys = fake::world().registry;
    auto key = keys.find(installer::kRecordKey);
    if (key == keys.end()) return nullptr;
    auto value = key->second.find(installer::kRecordValue);
    return value == key->second.end() ? nullptr : &value->second;
  }

  // Reads into a buffer with guard bytes behind the 260 that are offered.
  int read() {
    std::memset(buf, 'G', sizeof buf);
    int r = installer::read_installation_record(buf, installer::kPathCapacity);
    for (std::size_t i = installer::kPathCapacity; i < sizeof buf; ++i)
      EXPECT_EQ(buf[i], 'G') << "written past the buffer at " << i;
    return r;
  }

  char buf[installer::kPathCapacity + 16];
};

TEST_F(Record, NoKeyOrNoValueIsNoInstallation) {
  EXPECT_EQ(read(), 0);
  fake::world().registry[installer::kRecordKey];
  EXPECT_EQ(read(), 0);
}

TEST_F(Record, RootWithLibraryDirectoryIsAnInstallation) {
  store(std::string("C:\\rt", 6));
  fake::add_tree("C:\\rt\\bin\\win32");
  EXPECT_EQ(read(), 1);
  EXPECT_STREQ(buf, "C:\\rt");
  EXPECT_EQ(fake::world().attribute_queries.back(), "C:\\rt\\bin\\win32");
}

TEST_F(Record, LibraryDirectoryMissingOrAFileIsNoInstallationButRootIsReturned) {
  store(std::string("C:\\rt", 6));
  fake::add_tree("C:\\rt\\bin");
  EXPECT_EQ(read(), 0);
  EXPECT_STREQ(buf, "C:\\rt");
  fake::world().files.insert("C:\\rt\\bin\\win32");
  EXPECT_EQ(read(), 0);
}

TEST_F(Record, DataWithoutTerminatorOrWithTrailingBytesYieldsTheTextBeforeTheFirstZero) {
  fake::add_tree("C:\\rt\\bin\\win32");
  store("C:\\rt");  // no terminator stored
  EXPECT_EQ(read(), 1);
  EXPECT_STREQ(buf, "C:\\rt");
  store(std::string("C:\\rt\0junk\0", 11));
  EXPECT_EQ(read(), 1);
  EXPECT_STREQ(buf, "C:\\rt");
}

TEST_F(Record, EmptyRootIsNoInstallation) {
  // An empty root would make "\bin\win32" on the current drive count.
  fake::add_tree("\\bin\\win32");
  store("");
  EXPECT_EQ(read(), 0);
  store(std::string("\0", 1));
  EXPECT_EQ(read(), 0);
}

TEST_F(Record, LongRootsStayInsideTheBufferAndNeedTheirWholeLibraryPath) {
  std::string root249 = "C:\\" + std::string(246, 'r');
  fake::add_tree(root249 + "\\bin\\win32");
  store(root249 + '\0');
  EXPECT_EQ(read(), 1);
  EXPECT_EQ(std::string(buf), root249);

  // The library path of a 250-character root does not fit: no installation,
  // and no cut-off path is tested in its place.
  for (std::size_t length : {250u, 259u}) {
    std::string root = "C:\\" + std::string(length - 3, 'r');
    fake::add_tree(root + "\\bin\\win32");
    store(root + '\0');
    fake::world().attribute_queries.clear();
    EXPECT_EQ(read(), 0) << length;
    EXPECT_EQ(std::string(buf), root);
    EXPECT_TRUE(fake::world().attribute_queries.empty());
  }
}

TEST_F(Record, ValueFillingOrExceedingTheBufferIsNoInstallation) {
  fake::add_tree("C:\\");
  store(std::string(260, 'x'));  // exactly the capacity, no terminator
  EXPECT_EQ(read(), 0);
  EXPECT_EQ(std::strlen(buf), installer::kPathCapacity - 1);
  store(std::string(400, 'x') + '\0');
  EXPECT_EQ(read(), 0);
}

TEST_F(Record, WriteStoresRootWithTerminatorAsString) {
  installer::write_installation_record("D:\\x");
  const fake::Value* v = stored();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->type, ops::kRegSz);
  EXPECT_EQ(v->data, std::string("D:\\x", 5));
  EXPECT_EQ(v->data.size(), 5u);
  EXPECT_TRUE(fake::world().out.empty());
}

TEST_F(Record, WriteFailuresReportTheRegistryStatusOnStandardOutput) {
  fake::world().error_texts[5] = "Access is denied.\r\n";
  fake::world().error_texts[1021] = "Cannot create a stable subkey under a volatile parent key.\r\n";
  fake::world().last_error = 0;  // the registry does not set it

  fake::world().create_key_status = 5;
  installer::write_installation_record("D:\\x");
  EXPECT_EQ(fake::world().out, "Error: Access is denied.\r\n\n");
  EXPECT_EQ(stored(), nullptr);

  fake::world().out.clear();
  fake::world().create_key_status = 0;
  fake::world().set_value_status = 1021;
  installer::write_installation_record("D:\\x");
  EXPECT_EQ(fake::world().out,
            "Error: Cannot create a stable subkey under a volatile parent key.\r\n\n");
  EXPECT_EQ(stored(), nullptr);
  EXPECT_TRUE(fake::world().err.empty());
}

TEST_F(Record, ReportWithoutSystemTextNamesTheCode) {
  fake::world().last_error = 1234;
  installer::report_system_error();
  EXPECT_EQ(fake::world().out, "Error: system error 1234.\n");
}

}  // namespace
