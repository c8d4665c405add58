#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <thread>

#include "com/reg_file.h"
#include "com/registry.h"
#include "registry_fixture.h"

namespace {

std::string Text(const std::vector<BYTE>& data) {
    return std::string(data.begin(), data.end());
}

TEST(RegFile, ParsesEveryValueForm) {
    const RegFileParseResult r = ParseRegFile(
        "\xEF\xBB\xBFREGEDIT4\r\n"
        "; a comment\r\n"
        "\r\n"
        "[hkey_classes_root\\My.Prog.1\\Clsid]\r\n"
        "@=\"{12345678-0000-0000-0000-000000000001}\"\r\n"
        "  \"Path\" = \"C:\\\\dir\\\\\\\"quoted\\\"\"  ; trailing comment\r\n"
        "\"Flags\"=dword:0000002A\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  ff , 0a\r\n"
        "\"Env\"=hex(2):25,41,25,00\r\n"
        "\"Empty\"=hex:\r\n"
        "\"Gone\"=-\r\n"
        "[-HKEY_CURRENT_USER\\SOFTWARE\\Old]\r\n");
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.keys.size(), 2u);
    const RegFileKey& k = r.keys[0];
    EXPECT_EQ(k.root, RegRoot::ClassesRoot);
    EXPECT_EQ(k.subKey, "My.Prog.1\\Clsid");
    EXPECT_FALSE(k.remove);
    ASSERT_EQ(k.values.size(), 7u);
    EXPECT_EQ(k.values[0].name, "");
    EXPECT_EQ(k.values[0].type, REG_SZ);
    EXPECT_EQ(Text(k.values[0].data), std::string("{12345678-0000-0000-0000-000000000001}\0", 39));
    EXPECT_EQ(k.values[1].name, "Path");
    EXPECT_EQ(Text(k.values[1].data), std::string("C:\\dir\\\"quoted\"\0", 16));
    EXPECT_EQ(k.values[2].type, REG_DWORD);
    EXPECT_EQ(k.values[2].data, (std::vector<BYTE>{0x2A, 0, 0, 0}));
    EXPECT_EQ(k.values[3].type, REG_BINARY);
    EXPECT_EQ(k.values[3].data, (std::vector<BYTE>{1, 2, 0xFF, 0x0A}));
    EXPECT_EQ(k.values[4].type, REG_EXPAND_SZ);
    EXPECT_EQ(Text(k.values[4].data), std::string("%A%\0", 4));
    EXPECT_TRUE(k.values[5].data.empty());
    EXPECT_TRUE(k.values[6].remove);
    EXPECT_TRUE(r.keys[1].remove);
    EXPECT_EQ(r.keys[1].root, RegRoot::CurrentUser);
    EXPECT_EQ(r.keys[1].subKey, "SOFTWARE\\Old");
}

TEST(RegFile, ReadsUtf16VersionFiveFiles) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ä]\r\n"
        u"\"Name\"=\"Grüße\"\r\n\"Multi\"=hex(7):61,00,00,00,00,00\r\n";
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    const RegFileParseResult r = ParseRegFile(bytes);
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.keys.size(), 1u);
    EXPECT_EQ(r.keys[0].subKey, "SOFTWARE\\\xC3\x84");
    EXPECT_EQ(Text(r.keys[0].values[0].data), std::string("Gr\xC3\xBC\xC3\x9F"
                                                          "e\0",
                                                          8));
    // Text written as hex in such a file is UTF-16 and is kept as UTF-8.
    EXPECT_EQ(Text(r.keys[0].values[1].data), std::string("a\0\0", 3));

    bytes.pop_back();
    EXPECT_EQ(ParseRegFile(bytes).errorLine, 1);
}

TEST(RegFile, NamesTheLineOfTheFirstFault) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"", 1},
        {"REGEDIT5\n[HKEY_LOCAL_MACHINE\\A]\n", 1},
        {"REGEDIT4\n\"a\"=\"b\"\n", 2},
        {"REGEDIT4\n[HKEY_USERS\\A]\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2},
        {"REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"C:\\dir\"\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"open\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,2g\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,,02\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\n\"a\"=hex:01,\\\n 02,\\\n", 5},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex(zz):01\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\" c\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\" \"b\"\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nname=\"b\"\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=str:x\n", 3},
        {"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\"\n", 3},
    };
    for (const Case& c : cases) {
        const RegFileParseResult r = ParseRegFile(c.text);
        EXPECT_EQ(r.errorLine, c.line) << c.text;
        EXPECT_FALSE(r.error.empty()) << c.text;
        EXPECT_TRUE(r.keys.empty()) << c.text;
    }
}

TEST(RegFile, FormatReadsBackAsWritten) {
    std::vector<BYTE> long_blob(100);
    for (std::size_t i = 0; i < long_blob.size(); ++i) {
        long_blob[i] = static_cast<BYTE>(i * 7);
    }
    RegFileValue two_lines = RegFileValue::String("Two \"lines\"", "a\r\nb\\");
    RegFileValue raw{"Raw", 0x1234, {9, 8}, false};
    const std::vector<RegFileKey> keys{
        {RegRoot::ClassesRoot,
         "CLSID\\{ABC}\\Implemented Categories\\{X}",
         false,
         {RegFileValue::String("", "back\\slash \"q\""), RegFileValue::Dword("N", 0xDEADBEEF),
          RegFileValue::Binary("Blob", long_blob), two_lines, raw, RegFileValue::Removal("Old")}},
        {RegRoot::CurrentUser, "SOFTWARE\\Gone", true, {}},
        {RegRoot::LocalMachine, "", false, {RegFileValue::String("AtRoot", "")}},
    };
    const std::optional<std::string> text = FormatRegFile(keys);
    ASSERT_TRUE(text);
    const RegFileParseResult r = ParseRegFile(*text);
    ASSERT_TRUE(r.ok()) << r.errorLine << ": " << r.error << "\n" << *text;
    ASSERT_EQ(r.keys.size(), keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        EXPECT_EQ(r.keys[k].root, keys[k].root);
        EXPECT_EQ(r.keys[k].subKey, keys[k].subKey);
        EXPECT_EQ(r.keys[k].remove, keys[k].remove);
        ASSERT_EQ(r.keys[k].values.size(), keys[k].values.size());
        for (std::size_t v = 0; v < keys[k].values.size(); ++v) {
            EXPECT_EQ(r.keys[k].values[v].name, keys[k].values[v].name);
            EXPECT_EQ(r.keys[k].values[v].remove, keys[k].values[v].remove);
            if (!keys[k].values[v].remove) {
                EXPECT_EQ(r.keys[k].values[v].type, keys[k].values[v].type);
                EXPECT_EQ(r.keys[k].values[v].data, keys[k].values[v].data);
            }
        }
    }
    // Lines stay short enough for an editor.
    std::size_t start = 0;
    while (start < text->size()) {
        const std::size_t end = text->find('\n', start);
        EXPECT_LE(end - start, 100u);
        start = end + 1;
    }

    EXPECT_FALSE(FormatRegFile({{RegRoot::LocalMachine, "A\\\\B", false, {}}}));
    EXPECT_FALSE(FormatRegFile({{RegRoot::LocalMachine, "", true, {}}}));
    EXPECT_FALSE(
        FormatRegFile({{RegRoot::LocalMachine, "A", false, {RegFileValue::Dword("a\nb", 1)}}}));
}

TEST_F(RegistryTest, ResolvesValuesFromFilesWithoutRegardToCase) {
    WriteText("a.reg",
              "REGEDIT4\n"
              "[HKEY_CLASSES_ROOT\\Vendor.Server.1\\Clsid]\n"
              "@=\"{11111111-2222-3333-4444-555555555555}\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\n"
              "\"Count\"=dword:00000007\n");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "vendor.SERVER.1\\CLSID", nullptr),
              "{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Vendor.Server.1\\Clsid", ""),
              "{11111111-2222-3333-4444-555555555555}");
    // HKEY_CLASSES_ROOT of a file is the machine's SOFTWARE\Classes.
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "software\\classes\\Vendor.Server.1\\Clsid", nullptr),
              "{11111111-2222-3333-4444-555555555555}");

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VENDOR", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(
        RegQueryValueExA(key, "count", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, LaterFilesOverrideAndDelete) {
    WriteText("10-base.reg",
              "REGEDIT4\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\n"
              "\"Keep\"=\"base\"\n"
              "\"Replace\"=\"base\"\n"
              "\"Drop\"=\"base\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App\\Sub\\Deep]\n"
              "@=\"deep\"\n");
    WriteText("20-over.reg",
              "REGEDIT4\n"
              "[HKEY_LOCAL_MACHINE\\software\\app]\n"
              "\"REPLACE\"=\"over\"\n"
              "\"drop\"=-\n"
              "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\App\\Sub]\n");
    WriteText("ignored.txt", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\n\"Keep\"=\"txt\"\n");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\App", "Keep"), "base");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\App", "Replace"), "over");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\App", "Drop"), std::nullopt);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\App\\Sub"));

    // Name order, not the order of creation, decides.
    WriteText("05-first.reg",
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\n\"Keep\"=\"first\"\n"
              "\"Replace\"=\"first\"\n");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\App", "Keep"), "base");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\App", "Replace"), "over");
}

TEST_F(RegistryTest, UserClassesOverrideMachineClasses) {
    WriteText("a.reg",
              "REGEDIT4\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\P.1]\n"
              "@=\"machine\"\n"
              "\"MachineOnly\"=\"m\"\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\P.1]\n"
              "@=\"user\"\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\P.2]\n");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "P.1", nullptr), "user");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "P.1", "MachineOnly"), "m");
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "P.2"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\P.2"));
}

TEST_F(RegistryTest, MalformedFileIsReportedOnceAndLeftOut) {
    WriteText("1-good.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\One]\n@=\"1\"\n");
    WriteText("2-bad.reg",
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Two]\n@=\"2\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\One]\n@=\"overridden\"\n\"x\"=what\n");
    WriteText("3-good.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Three]\n@=\"3\"\n");

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\One", nullptr), "1");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Two"));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Three", nullptr), "3");
    // Another file changing makes the registry read everything again; the bad file is not
    // named a second time.
    WriteText("4-good.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Four]\n");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Four"));
    const std::string out = ::testing::internal::GetCapturedStdout();

    const std::string path = (dir_ / "2-bad.reg").string();
    EXPECT_NE(out.find(path + " line 6"), std::string::npos) << out;
    EXPECT_EQ(out.find(path), out.rfind(path)) << out;
    EXPECT_EQ(out.find("1-good"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;

    // Mended, it counts again.
    WriteText("2-bad.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Two]\n@=\"2\"\n");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Two", nullptr), "2");
}

TEST_F(RegistryTest, AnswersWithWindowsCodes) {
    WriteText("a.reg",
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Codes]\n"
              "@=\"0123456789\"\n\"Bin\"=hex:01,02,03\n\"Env\"=hex(2):25,41,25\n");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Codes", 0, KEY_WRITE, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Codes", 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Codes", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Codes", 0, KEY_READ, &key),
              ERROR_SUCCESS);

    EXPECT_EQ(RegQueryValueExA(key, "Nope", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);

    // Size first, then a buffer too small, then one that fits; text counts its terminator.
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 11u);
    char small[5] = {'#', '#', '#', '#', '#'};
    size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(small[4], '#');
    char fits[11];
    size = sizeof fits;
    EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(fits), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(fits, "0123456789");
    BYTE bin[3];
    size = sizeof bin;
    EXPECT_EQ(RegQueryValueExA(key, "bin", nullptr, &type, bin, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(bin[2], 3);
    EXPECT_EQ(RegQueryValueExA(key, "bin", nullptr, &type, bin, nullptr), ERROR_INVALID_PARAMETER);
    // Text stored without its terminator is handed out with one.
    char env[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
    size = sizeof env;
    EXPECT_EQ(RegQueryValueExA(key, "Env", nullptr, &type, reinterpret_cast<BYTE*>(env), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(size, 4u);
    EXPECT_STREQ(env, "%A%");

    // Sub-keys open relative to an open key.
    HKEY root_again = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, nullptr, 0, KEY_READ, &root_again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(root_again), ERROR_SUCCESS);

    // Closed, made-up and null handles are refused, never followed.
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    HKEY bogus = reinterpret_cast<HKEY>(std::uintptr_t{0xDEADBEEF});
    EXPECT_EQ(RegOpenKeyExA(bogus, "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(nullptr, "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    char name[8];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(bogus, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(RegistryTest, SeesFilesChangeWhileRunning) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Late.Server.1\\Clsid"));
    const std::filesystem::path file = RegistryUserDirectory() / "late.reg";
    EXPECT_EQ(file.parent_path(), dir_);
    ASSERT_EQ(RegistryWriteFile(file, {{RegRoot::ClassesRoot,
                                        "Late.Server.1\\Clsid",
                                        false,
                                        {RegFileValue::String("", "{late}")}}}),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Late.Server.1\\Clsid", nullptr), "{late}");

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Late.Server.1\\Clsid", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    // Rewritten at once (same size, same clock tick): the write itself tells the registry.
    ASSERT_EQ(RegistryWriteFile(file, {{RegRoot::ClassesRoot,
                                        "Late.Server.1\\Clsid",
                                        false,
                                        {RegFileValue::String("", "{LATE}")}}}),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Late.Server.1\\Clsid", nullptr), "{LATE}");

    EXPECT_EQ(RegistryRemoveFile(file), ERROR_SUCCESS);
    EXPECT_EQ(RegistryRemoveFile(file), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Late.Server.1"));
    // A handle to a key that went away stays safe to use.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    EXPECT_EQ(RegistryWriteFile(dir_ / "x.reg", {{RegRoot::LocalMachine, "", true, {}}}),
              ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "x.reg"));
}

TEST_F(RegistryTest, EnumeratesMergedSubKeysInNameOrder) {
    WriteText("a.reg",
              "REGEDIT4\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\beta]\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\Alpha]\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\CLSID\\ALPHA]\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\CLSID\\Gamma-long-name]\n");
    ASSERT_EQ(RegCreateKeyInMemory(HKEY_CLASSES_ROOT, "CLSID\\Delta"), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[64];
    DWORD index = 0;
    while (true) {
        DWORD cch = sizeof name;
        const LSTATUS status =
            RegEnumKeyExA(key, index++, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(cch, std::strlen(name));
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ALPHA", "beta", "Delta", "Gamma-long-name"}));
    DWORD cch = 5;
    EXPECT_EQ(RegEnumKeyExA(key, 3, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeInMemory(HKEY_CLASSES_ROOT, "CLSID\\Delta"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, InMemoryKeysSitAboveFilesUntilRemoved) {
    WriteText("a.reg",
              "REGEDIT4\n[HKEY_CLASSES_ROOT\\Mem.Prog.1\\Clsid]\n@=\"{from-file}\"\n"
              "\"Other\"=\"file\"\n");
    ASSERT_EQ(RegSetStringInMemory(HKEY_CLASSES_ROOT, "Mem.Prog.1\\Clsid", "", "{from-memory}"),
              ERROR_SUCCESS);
    const DWORD number = 42;
    ASSERT_EQ(RegSetKeyValueInMemory(HKEY_CURRENT_USER, "SOFTWARE\\MemOnly", "N", REG_DWORD,
                                     &number, sizeof number),
              ERROR_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Mem.Prog.1\\Clsid", nullptr), "{from-memory}");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Mem.Prog.1\\Clsid", nullptr),
              "{from-memory}");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Mem.Prog.1\\Clsid", "Other"), "file");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "SOFTWARE\\MemOnly"));

    EXPECT_EQ(RegDeleteTreeInMemory(HKEY_CLASSES_ROOT, "Mem.Prog.1"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeInMemory(HKEY_CLASSES_ROOT, "Mem.Prog.1"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Mem.Prog.1\\Clsid", nullptr), "{from-file}");
    EXPECT_EQ(RegDeleteTreeInMemory(HKEY_CURRENT_USER, "software\\memonly"), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "SOFTWARE\\MemOnly"));

    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Mem.Prog.1", 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_EQ(RegSetStringInMemory(opened, "x", "", "y"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetKeyValueInMemory(HKEY_CLASSES_ROOT, "x", "", REG_BINARY, nullptr, 4),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(opened);
}

TEST_F(RegistryTest, ReadsTheDirectoriesNamedInOrder) {
    const std::filesystem::path second = dir_ / "second";
    std::filesystem::create_directory(second);
    ::setenv("TAGVISTA_REGISTRY", (dir_.string() + "::" + second.string()).c_str(), 1);
    EXPECT_EQ(RegistryDirectories(), (std::vector<std::filesystem::path>{dir_, second}));
    EXPECT_EQ(RegistryUserDirectory(), second);
    WriteText("z.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dirs]\n@=\"first\"\n");
    WriteText("second/a.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dirs]\n@=\"second\"\n");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dirs", nullptr), "second");
    // Changing the variable changes the registry.
    ::setenv("TAGVISTA_REGISTRY", dir_.c_str(), 1);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dirs", nullptr), "first");

    ::unsetenv("TAGVISTA_REGISTRY");
    ::setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(RegistryDirectories(),
              (std::vector<std::filesystem::path>{"/etc/tagvista/registry",
                                                  "/data/home/tagvista/registry"}));
    ::unsetenv("XDG_DATA_HOME");
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        EXPECT_EQ(RegistryUserDirectory(),
                  std::filesystem::path(home) / ".local/share/tagvista/registry");
    }
}

class FakeHive final : public IRemoteRegistryHive {
  public:
    explicit FakeHive(std::atomic<int>& alive) : alive_(alive) { ++alive_; }
    ~FakeHive() override { --alive_; }

    LSTATUS OpenKey(const std::string& path) override {
        opened.push_back(path);
        return path.empty() || values.contains(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    LSTATUS QueryValue(const std::string& path, const std::string& name, DWORD& type,
                       std::vector<BYTE>& data) override {
        const auto it = values.find(path);
        if (it == values.end() || !name.empty()) {
            return ERROR_FILE_NOT_FOUND;
        }
        type = REG_SZ;
        data.assign(it->second.begin(), it->second.end());  // no terminator on purpose
        return ERROR_SUCCESS;
    }
    LSTATUS EnumKey(const std::string&, DWORD index, std::string& name) override {
        if (index > 0) {
            return ERROR_NO_MORE_ITEMS;
        }
        name = "SOFTWARE";
        return ERROR_SUCCESS;
    }

    std::map<std::string, std::string> values;
    std::vector<std::string> opened;

  private:
    std::atomic<int>& alive_;
};

class FakeRegistryProvider final : public IRemoteRegistryProvider {
  public:
    LSTATUS Connect(const std::string& node, std::shared_ptr<IRemoteRegistryHive>& out) override {
        nodes.push_back(node);
        if (node != "plant:5135") {
            return ERROR_BAD_NETPATH;
        }
        out = hive;
        return ERROR_SUCCESS;
    }
    std::vector<std::string> nodes;
    std::shared_ptr<FakeHive> hive;
};

TEST_F(RegistryTest, ConnectsToLocalAndRemoteRegistries) {
    WriteText("a.reg",
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Here.1\\Clsid]\n@=\"h\"\n");
    for (const char* local : {static_cast<const char*>(nullptr), ""}) {
        HKEY hive = nullptr;
        ASSERT_EQ(RegConnectRegistryA(local, HKEY_LOCAL_MACHINE, &hive), ERROR_SUCCESS);
        EXPECT_EQ(ReadString(hive, "SOFTWARE\\Classes\\Here.1\\Clsid", nullptr), "h");
        EXPECT_EQ(RegCloseKey(hive), ERROR_SUCCESS);
    }
    HKEY hive = nullptr;
    EXPECT_EQ(RegConnectRegistryA("plant", HKEY_LOCAL_MACHINE, &hive), ERROR_BAD_NETPATH);
    EXPECT_EQ(hive, nullptr);

    std::atomic<int> alive{0};
    auto provider = std::make_shared<FakeRegistryProvider>();
    provider->hive = std::make_shared<FakeHive>(alive);
    provider->hive->values["SOFTWARE\\Classes\\There.1\\Clsid"] = "0123456789";
    const auto previous = SetRemoteRegistryProvider(provider);

    EXPECT_EQ(RegConnectRegistryA("elsewhere", HKEY_LOCAL_MACHINE, &hive), ERROR_BAD_NETPATH);
    EXPECT_EQ(RegConnectRegistryA("plant:5135", HKEY_CURRENT_USER, &hive), ERROR_INVALID_HANDLE);
    ASSERT_EQ(RegConnectRegistryA("\\\\plant:5135", HKEY_LOCAL_MACHINE, &hive), ERROR_SUCCESS);
    EXPECT_EQ(provider->nodes.back(), "plant:5135");
    provider->hive.reset();

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(hive, "SOFTWARE\\Classes\\Here.1\\Clsid", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(hive, "SOFTWARE\\Classes\\There.1\\Clsid", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    // Remote text without its terminator still arrives terminated.
    char buffer[100];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    ASSERT_EQ(
        RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 11u);
    EXPECT_STREQ(buffer, "0123456789");
    size = 10;
    EXPECT_EQ(
        RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    char name[16];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(hive, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "SOFTWARE");

    // The connection lasts as long as a key of it is open.
    EXPECT_EQ(RegCloseKey(hive), ERROR_SUCCESS);
    EXPECT_EQ(alive.load(), 1);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(alive.load(), 0);

    SetRemoteRegistryProvider(previous);
}

TEST_F(RegistryTest, ServesManyThreadsWhileFilesChange) {
    WriteText("a.reg", "REGEDIT4\n[HKEY_CLASSES_ROOT\\T.1\\Clsid]\n@=\"t\"\n");
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                if (ReadString(HKEY_CLASSES_ROOT, "T.1\\Clsid", nullptr) != "t") {
                    ++failures;
                }
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        RegistryWriteFile(dir_ / ("w" + std::to_string(i % 5) + ".reg"),
                          {{RegRoot::LocalMachine,
                            "SOFTWARE\\W" + std::to_string(i),
                            false,
                            {RegFileValue::Dword("i", static_cast<DWORD>(i))}}});
        RegSetStringInMemory(HKEY_CURRENT_USER, "SOFTWARE\\M", "i", std::to_string(i));
    }
    stop = true;
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(RegDeleteTreeInMemory(HKEY_CURRENT_USER, "SOFTWARE\\M"), ERROR_SUCCESS);
}

}  // namespace
