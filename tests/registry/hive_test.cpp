// The hive's tree and its REGEDIT4 file: exact round trips, the format the
// file is written in, refusals of malformed files, atomic saves.
#include "nt/registry/hive.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qzr::nt::registry {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytes(std::string_view s) {
  return {s.begin(), s.end()};
}
std::vector<std::uint8_t> sz(std::string_view s) {
  auto b = bytes(s);
  b.push_back(0);
  return b;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class TempDir {
 public:
  TempDir() : path_(fs::path("/tmp") / ("qzr-registry-" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename());
    return names;
  }

 private:
  fs::path path_;
};

// Every type, and names and data that need escaping or cannot be quoted.
void fill_awkward(Hive& hive) {
  Key* svc = hive.create_key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\QZR6140");
  ASSERT_NE(svc, nullptr);
  hive.set_value(*svc, "ImagePath", kRegExpandSz,
                 sz("\\SystemRoot\\System32\\drivers\\QZR6140.SYS"));
  hive.set_value(*svc, "Group", kRegSz, sz("SCSI Miniport"));
  hive.set_value(*svc, "Tag", kRegDword, {0x11, 0, 0, 0});
  hive.set_value(*svc, "Big", kRegDword, {0xef, 0xbe, 0xad, 0xde});
  hive.set_value(*svc, "", kRegSz, sz("default"));

  Key* odd = hive.create_key("HKEY_CURRENT_USER\\We]ird=\"key\" \xE9\xFF\\child");
  ASSERT_NE(odd, nullptr);
  hive.set_value(*odd, "quote\"back\\slash=eq]br", kRegSz, sz("a \"b\" c\\d=e]f [g] \xE9\xFF"));
  hive.set_value(*odd, "no terminator", kRegSz, bytes("abc"));
  hive.set_value(*odd, "inner zero", kRegSz, {'a', 0, 'b', 0});
  hive.set_value(*odd, "line break", kRegSz, sz("one\r\ntwo"));
  hive.set_value(*odd, "empty sz", kRegSz, {});
  hive.set_value(*odd, "just zero", kRegSz, {0});
  hive.set_value(*odd, "short dword", kRegDword, {1, 2, 3});
  std::vector<std::uint8_t> blob(200);
  for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i * 7);
  hive.set_value(*odd, "blob", kRegBinary, blob);
  hive.set_value(*odd, "empty blob", kRegBinary, {});
  hive.set_value(*odd, "multi", kRegMultiSz, {'a', 0, 'b', 'c', 0, 0});
  hive.set_value(*odd, "qword", 11, {1, 2, 3, 4, 5, 6, 7, 8});
  hive.set_value(*odd, "none", kRegNone, {});
  hive.create_key("HKEY_CLASSES_ROOT\\.scn");  // a key with nothing in it
  Key* hkcr = hive.root("HKEY_CLASSES_ROOT");
  hive.set_value(*hkcr, "root value", kRegSz, sz("on the root itself"));
}

void expect_same_tree(const Key& a, const Key& b) {
  ASSERT_EQ(a.name(), b.name());
  ASSERT_EQ(a.values().size(), b.values().size()) << a.path();
  for (std::size_t i = 0; i < a.values().size(); ++i) {
    EXPECT_EQ(a.values()[i].name, b.values()[i].name) << a.path();
    EXPECT_EQ(a.values()[i].type, b.values()[i].type) << a.values()[i].name;
    EXPECT_EQ(a.values()[i].data, b.values()[i].data) << a.values()[i].name;
  }
  ASSERT_EQ(a.subkeys().size(), b.subkeys().size()) << a.path();
  for (std::size_t i = 0; i < a.subkeys().size(); ++i)
    expect_same_tree(*a.subkeys()[i], *b.subkeys()[i]);
}

void expect_same_hive(const Hive& a, const Hive& b) {
  for (std::string_view root : Hive::kRootNames) expect_same_tree(*a.root(root), *b.root(root));
}

TEST(HiveFile, EveryTypeAndAwkwardNameSurvivesSaveAndLoad) {
  TempDir dir;
  Hive original;
  fill_awkward(original);
  std::string error;
  const std::string path = dir.path() / "registry.reg";
  ASSERT_TRUE(original.save(path, error)) << error;

  Hive loaded;
  ASSERT_TRUE(loaded.load(path, error)) << error;
  expect_same_hive(original, loaded);
  // Saved again, the file is the same byte for byte.
  EXPECT_EQ(loaded.text(), read_file(path));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"registry.reg"});
}

TEST(HiveFile, IsWrittenAsRegedit4WithCrlf) {
  Hive hive;
  Key* key = hive.create_key("HKEY_LOCAL_MACHINE\\SYSTEM\\Services\\Q");
  hive.set_value(*key, "ImagePath", kRegExpandSz, sz("\\S"));
  hive.set_value(*key, "Group", kRegSz, sz("SCSI \"M\" \\x"));
  hive.set_value(*key, "Tag", kRegDword, {0x11, 0, 0, 0});
  hive.set_value(*key, "", kRegBinary, {0xAB, 0x01});
  hive.set_value(*key, "M", kRegMultiSz, {'a', 0, 0});
  hive.create_key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty");
  EXPECT_EQ(hive.text(),
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\Services\\Q]\r\n"
            "\"ImagePath\"=hex(2):5c,53,00\r\n"
            "\"Group\"=\"SCSI \\\"M\\\" \\\\x\"\r\n"
            "\"Tag\"=dword:00000011\r\n"
            "@=hex:ab,01\r\n"
            "\"M\"=hex(7):61,00,00\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty]\r\n"
            "\r\n");
}

TEST(HiveFile, LongHexDataIsContinuedWithinEightyColumns) {
  Hive hive;
  Key* key = hive.create_key("HKEY_LOCAL_MACHINE\\K");
  hive.set_value(*key, "Data", kRegBinary, std::vector<std::uint8_t>(100, 0x5a));
  std::string text = hive.text();
  std::istringstream lines(text);
  std::string line;
  int continued = 0;
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.back(), '\r');
    line.pop_back();
    EXPECT_LE(line.size(), 80u) << line;
    if (!line.empty() && line.back() == '\\') {
      ++continued;
      EXPECT_EQ(line.substr(line.size() - 2), ",\\");
    }
  }
  EXPECT_GE(continued, 3);
  EXPECT_NE(text.find("\"Data\"=hex:5a,5a,"), std::string::npos);
  EXPECT_NE(text.find("\\\r\n  5a,"), std::string::npos);
}

TEST(HiveFile, ReadsLfAndCrlfCommentsAndImpliedParents) {
  const std::string body =
      "REGEDIT4\n"
      "\n"
      "; a comment\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\n"
      "\"x\" = dword:1F\n"
      "\"b\"=hex:01,\\\n"
      "    02,03\n"
      "[hkey_local_machine\\a\\C]\n"
      "@=\"d\"\n";
  for (bool crlf : {false, true}) {
    std::string text;
    for (char c : body) {
      if (c == '\n' && crlf) text += '\r';
      text += c;
    }
    Hive hive;
    std::string error;
    ASSERT_TRUE(hive.parse(text, "t.reg", error)) << error;
    Key* a = hive.find_key("HKEY_LOCAL_MACHINE\\A");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->subkeys().size(), 2u);
    EXPECT_EQ(a->subkeys()[0]->name(), "B");
    EXPECT_EQ(a->subkeys()[1]->name(), "C");
    const Value* x = hive.query_value(*a->subkeys()[0], "X");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->data, (std::vector<std::uint8_t>{0x1f, 0, 0, 0}));
    EXPECT_EQ(hive.query_value(*a->subkeys()[0], "b")->data, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(hive.query_value(*a->subkeys()[1], "")->data, sz("d"));
  }
}

struct Malformed {
  const char* what;
  std::string text;
  int line;
  const char* message;
};

TEST(HiveFile, MalformedFileNamesFileAndLineAndChangesNothing) {
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n";
  const std::vector<Malformed> cases = {
      {"empty file", "", 1, "REGEDIT4"},
      {"missing header", "[HKEY_LOCAL_MACHINE\\K]\r\n\"a\"=dword:1\r\n", 1, "REGEDIT4"},
      {"other header", "Windows Registry Editor Version 5.00\r\n", 1, "REGEDIT4"},
      {"unclosed section", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K\r\n", 3, "bad section"},
      {"text after section", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K] x\r\n", 3, "bad section"},
      {"unknown root", "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\K]\r\n", 3, "unknown root"},
      {"empty key name", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\a\\\\b]\r\n", 3, "bad section"},
      {"key deletion", "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\K]\r\n", 3, "deletion"},
      {"value before section", "REGEDIT4\r\n\r\n\"a\"=dword:1\r\n", 3, "before the first"},
      {"dword too long", head + "\"a\"=dword:123456789\r\n", 4, "bad dword"},
      {"dword not hex", head + "\"a\"=dword:12g4\r\n", 4, "bad dword"},
      {"dword empty", head + "\"a\"=dword:\r\n", 4, "bad dword"},
      {"hex byte too long", head + "\"a\"=hex:01,234\r\n", 4, "bad hex"},
      {"hex not hex", head + "\"a\"=hex:0x\r\n", 4, "bad hex"},
      {"hex trailing comma", head + "\"a\"=hex:01,\r\n", 4, "bad hex"},
      {"hex bad type", head + "\"a\"=hex(z):01\r\n", 4, "bad hex type"},
      {"hex continued past end", head + "\"a\"=hex:01,\\\r\n", 4, "end of the file"},
      {"bad hex on continuation", head + "\"a\"=hex:01,\\\r\n  zz\r\n", 4, "bad hex"},
      {"unterminated string", head + "\"a\"=\"abc\r\n", 4, "unterminated"},
      {"unterminated name", head + "\"a=\"abc\"\r\n", 4, "expected ="},
      {"bad escape", head + "\"a\"=\"a\\nb\"\r\n", 4, "bad escape"},
      {"text after string", head + "\"a\"=\"abc\" x\r\n", 4, "after the closing quote"},
      {"missing equals", head + "\"a\" dword:1\r\n", 4, "expected ="},
      {"unknown data", head + "\"a\"=qword:1\r\n", 4, "bad value data"},
      {"value deletion", head + "\"a\"=-\r\n", 4, "deletion"},
      {"stray text", head + "a=b\r\n", 4, "unexpected text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Hive hive;
    Key* keep = hive.create_key("HKEY_LOCAL_MACHINE\\Keep");
    hive.set_value(*keep, "v", kRegDword, {1, 0, 0, 0});
    const std::string before = hive.text();
    std::string error;
    EXPECT_FALSE(hive.parse(c.text, "/r/m.reg", error));
    EXPECT_EQ(error.rfind("/r/m.reg:" + std::to_string(c.line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(hive.text(), before);
  }
}

TEST(HiveFile, UnreadableFileIsAnErrorNamingIt) {
  TempDir dir;
  for (const std::string& path :
       {std::string("/nonexistent/qzr/registry.reg"), dir.path().string()}) {
    Hive hive;
    std::string error;
    EXPECT_FALSE(hive.load(path, error)) << path;
    EXPECT_EQ(error.rfind(path + ":", 0), 0u) << error;
  }
}

TEST(HiveSave, FailedWriteLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string path = dir.path() / "registry.reg";
  write_file(path, "REGEDIT4\r\n\r\nold\r\n");

  // A file-size limit makes the write fail part-way, even for root.
  struct sigaction ignore {
  }, old_action{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old_action), 0);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

  Hive hive;
  Key* key = hive.create_key("HKEY_LOCAL_MACHINE\\Big");
  hive.set_value(*key, "blob", kRegBinary, std::vector<std::uint8_t>(64 * 1024, 0x42));
  std::string error;
  bool saved = hive.save(path, error);

  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_action, nullptr);

  EXPECT_FALSE(saved);
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(read_file(path), "REGEDIT4\r\n\r\nold\r\n");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"registry.reg"});
}

TEST(HiveSave, ReadOnlyFolderLeavesTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempDir dir;
  const std::string path = dir.path() / "registry.reg";
  write_file(path, "old");
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
  Hive hive;
  std::string error;
  EXPECT_FALSE(hive.save(path, error));
  EXPECT_NE(error.find(path), std::string::npos);
  fs::permissions(dir.path(), fs::perms::owner_all);
  EXPECT_EQ(read_file(path), "old");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"registry.reg"});
}

TEST(HiveSave, ReplacesTheFileKeepingItsPermissions) {
  TempDir dir;
  const std::string path = dir.path() / "registry.reg";
  write_file(path, "old");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  Hive hive;
  hive.create_key("HKEY_LOCAL_MACHINE\\New");
  std::string error;
  ASSERT_TRUE(hive.save(path, error)) << error;
  EXPECT_EQ(read_file(path), hive.text());
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST(HiveTree, NamesMatchWithoutCaseAndKeepTheirCaseAndPlace) {
  Hive hive;
  Key* a = hive.create_key("HKEY_LOCAL_MACHINE\\System\\Abc");
  Key* again = hive.create_key("hkey_local_machine\\SYSTEM\\aBC");
  EXPECT_EQ(a, again);
  EXPECT_EQ(a->path(), "HKEY_LOCAL_MACHINE\\System\\Abc");
  hive.set_value(*a, "First", kRegDword, {1, 0, 0, 0});
  hive.set_value(*a, "Second", kRegDword, {2, 0, 0, 0});
  hive.set_value(*a, "FIRST", kRegSz, sz("x"));
  ASSERT_EQ(a->values().size(), 2u);
  EXPECT_EQ(a->values()[0].name, "First");
  EXPECT_EQ(a->values()[0].type, kRegSz);
  EXPECT_TRUE(hive.delete_value(*a, "second"));
  EXPECT_FALSE(hive.delete_value(*a, "second"));
  EXPECT_EQ(hive.find_key("HKEY_LOCAL_MACHINE\\System\\Missing"), nullptr);
}

TEST(HiveTree, TypedReadsTakeOnlyTheirOwnTypes) {
  Hive hive;
  Key* key = hive.create_key("HKEY_LOCAL_MACHINE\\S");
  hive.set_value(*key, "Tag", kRegDword, {0x11, 0, 0, 0});
  hive.set_value(*key, "Short", kRegDword, {0x11, 0});
  hive.set_value(*key, "Image", kRegExpandSz, sz("\\SystemRoot\\x.sys"));
  hive.set_value(*key, "Group", kRegSz, {'S', 'C', 0, 'x', 0});
  hive.set_value(*key, "Bare", kRegSz, bytes("abc"));
  hive.set_value(*key, "Bin", kRegBinary, {1, 0, 0, 0});
  EXPECT_EQ(read_dword(*key, "tag"), 0x11u);
  EXPECT_EQ(read_dword(*key, "Short"), std::nullopt);
  EXPECT_EQ(read_dword(*key, "Bin"), std::nullopt);
  EXPECT_EQ(read_dword(*key, "Missing"), std::nullopt);
  EXPECT_EQ(read_string(*key, "Image"), "\\SystemRoot\\x.sys");
  EXPECT_EQ(read_string(*key, "Group"), "SC");
  EXPECT_EQ(read_string(*key, "Bare"), "abc");
  EXPECT_EQ(read_string(*key, "Tag"), std::nullopt);
}

TEST(HiveTree, RefusesPathsAndNamesItCouldNotWriteBack) {
  Hive hive;
  std::string error;
  EXPECT_EQ(hive.create_key("HKEY_NOWHERE\\A", &error), nullptr);
  EXPECT_EQ(hive.create_key("HKEY_LOCAL_MACHINE\\a\\\\b", &error), nullptr);
  EXPECT_EQ(hive.create_key("HKEY_LOCAL_MACHINE\\line\nbreak", &error), nullptr);
  EXPECT_EQ(hive.create_key("HKEY_LOCAL_MACHINE\\" + std::string(256, 'k'), &error), nullptr);
  EXPECT_NE(hive.create_key("HKEY_LOCAL_MACHINE\\" + std::string(255, 'k'), &error), nullptr);
  std::string deep = "HKEY_LOCAL_MACHINE";
  for (std::size_t i = 0; i < kMaxKeyDepth + 1; ++i) deep += "\\d";
  EXPECT_EQ(hive.create_key(deep, &error), nullptr);
  Key* key = hive.root("HKEY_LOCAL_MACHINE");
  EXPECT_FALSE(hive.set_value(*key, "a\rb", kRegSz, {0}, &error));
  EXPECT_FALSE(hive.set_value(*key, "big", kRegBinary,
                              std::vector<std::uint8_t>(kMaxValueBytes + 1), &error));
  EXPECT_TRUE(key->values().empty());
}

}  // namespace
}  // namespace qzr::nt::registry
