// tgvtool's commands run in process on files in a temporary directory: exit codes, messages,
// re-saving and the JSON dump.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "document/offline_doc.h"
#include "model/group_record.h"
#include "model/item_record.h"
#include "model/server_record.h"
#include "opc/opc_server.h"
#include "tgvtool/commands.h"
#include "tgvtool/json_writer.h"

namespace {

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class TgvtoolTest : public ::testing::Test {
  protected:
    TgvtoolTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tgvtool-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
    }
    ~TgvtoolTest() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        return RunTgvtool(args, out, err);
    }

    // A configuration with one server, one group and one item with two history samples, and
    // one live-server placeholder.
    std::string WriteSample() {
        COfflineDoc doc;
        EXPECT_TRUE(doc.OnNewDocument());
        doc.nextItemId = 2;
        doc.nextGroupId = 2;
        doc.nextServerId = 2;
        doc.nextServerNumber = 2;
        doc.reservedCounter = -3;
        auto server = std::make_unique<clBaseOPCServer>();
        server->id = 1;
        server->serverName = "Tagvista.Simulator.1";
        server->nodeName = "plant\"1\"";
        server->remote = 1;
        server->nextGroupNumber = 2;
        auto group = std::make_unique<clBaseOPCGroup>();
        group->id = 1;
        group->serverId = 1;
        group->reserved = 5;
        group->updateRate = 250;
        group->name = "Fast";
        group->active = 0;
        auto item = std::make_unique<clBaseOPCItem>();
        item->id = 1;
        item->displayName = "Température\t1";
        item->opcItemId = "Plant.Area1.Line1.Temperature";
        item->scaleType = clBaseOPCItem::scaleTypeFactor;
        item->scaleEnabled = true;
        item->scaleFactor = 0.1;
        item->accessRights = 1;
        item->value = std::numeric_limits<double>::quiet_NaN();
        item->valueText = "x\\y";
        item->active = 1;
        item->requestedType = VT_R4;
        item->canonicalType = VT_R8;
        item->timestamp.SetDateTime(2024, 5, 6, 7, 8, 9, 10);
        item->history.enabled = true;
        item->history.capacity = 16;
        item->history.AddSample(clDateTime(2024, 5, 6, 7, 8, 9, 0), 1.0 / 3.0, 0xC0, true);
        item->history.AddSample(clDateTime(2024, 5, 6, 7, 8, 10, 0), 1e300, 0x40, false);
        item->history.SetRemark(2, "high");
        group->InsertItemSorted(std::move(item));
        server->InsertGroupSorted(std::move(group));
        doc.serverList.AddServerRecord(std::move(server));
        doc.serverList.AddServer(std::make_unique<COPCServer>());
        const std::string path = Path("sample.tgv");
        EXPECT_EQ(doc.Save(path), "");
        return path;
    }

    std::ostringstream out;
    std::ostringstream err;

  private:
    std::filesystem::path dir_;
};

TEST(Json, TextsAreEscapedAndNumbersReadBackTheSame) {
    EXPECT_EQ(JsonQuote("plain"), "\"plain\"");
    EXPECT_EQ(JsonQuote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonQuote(std::string("\n\t\x01\x1f", 4)), "\"\\u000a\\u0009\\u0001\\u001f\"");
    EXPECT_EQ(JsonQuote(std::string("\0", 1)), "\"\\u0000\"");
    // UTF-8 passes through; bytes that are not UTF-8 become U+FFFD one by one.
    EXPECT_EQ(JsonQuote("Température €𝄞"), "\"Température €𝄞\"");
    EXPECT_EQ(JsonQuote("\xE9t\xE9"), "\"\xEF\xBF\xBDt\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonQuote("\xC3"), "\"\xEF\xBF\xBD\"");                  // cut sequence
    EXPECT_EQ(JsonQuote("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");  // overlong
    EXPECT_EQ(JsonQuote("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");  // surrogate

    EXPECT_EQ(JsonNumber(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(JsonNumber(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(JsonNumber(-std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(JsonNumber(100.0), "100");
    for (const double x : {0.1, 1.0 / 3.0, -2.5e-310, 1e300, 123456789.125,
                           std::numeric_limits<double>::max(), -0.0}) {
        const std::string text = JsonNumber(x);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), x) << text;
        EXPECT_EQ(std::signbit(std::strtod(text.c_str(), nullptr)), std::signbit(x)) << text;
    }
}

TEST_F(TgvtoolTest, WrongArgumentsExitWithTwoAndHelpWithZero) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"check"},
                                               {"check", "a", "b"},
                                               {"dump"},
                                               {"resave", "a"},
                                               {"resave", "a", "b", "c"},
                                               {"--help", "x"}}) {
        EXPECT_EQ(Run(args), kExitUsage) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(out.str().empty());
        EXPECT_NE(err.str().find("tgvtool --help"), std::string::npos);
    }
    EXPECT_EQ(Run({"--help"}), kExitOk);
    EXPECT_EQ(out.str(), TgvtoolUsage());
    EXPECT_NE(out.str().find("null"), std::string::npos);  // says how NaN is shown
    EXPECT_TRUE(err.str().empty());
}

TEST_F(TgvtoolTest, CheckExitsWithOneAndTheApplicationsMessage) {
    EXPECT_EQ(Run({"check", WriteSample()}), kExitOk);
    EXPECT_TRUE(out.str().empty());
    EXPECT_TRUE(err.str().empty());

    const std::string missing = Path("missing.tgv");
    EXPECT_EQ(Run({"check", missing}), kExitFailed);
    EXPECT_EQ(err.str(), missing + " was not found.\n");

    WriteBytes(Path("garbage.tgv"), {1, 0, 0, 0, 1});
    EXPECT_EQ(Run({"check", Path("garbage.tgv")}), kExitFailed);
    EXPECT_EQ(err.str(), "Unexpected file format.\n");

    // An empty file opens, as it does in the application.
    WriteBytes(Path("empty.tgv"), {});
    EXPECT_EQ(Run({"check", Path("empty.tgv")}), kExitOk);
}

TEST_F(TgvtoolTest, ResaveWritesTheSameBytesAsTheApplication) {
    const std::string sample = WriteSample();
    const std::string copy = Path("copy.tgv");
    EXPECT_EQ(Run({"resave", sample, copy}), kExitOk);
    EXPECT_TRUE(err.str().empty());
    EXPECT_EQ(ReadBytes(copy), ReadBytes(sample));

    // A server name stored as UTF-16, as other writers may store it, comes out as UTF-8.
    const auto file = [](bool wide) {
        std::vector<std::uint8_t> b{
            1, 0, 0, 0, 1, 0, 0,    0,    1, 0, 0,  0, 1, 0, 0,
            0, 2, 0, 0, 0, 1, 0,    0,    0, 1, 0,  0, 0, 0, 0,  // no column sets
            1, 0, 0, 0, 1, 0, 0xFF, 0xFF, 0, 0, 15, 0};
        const std::string name = "clBaseOPCServer";
        b.insert(b.end(), name.begin(), name.end());
        b.insert(b.end(), {1, 0, 0, 0, 1, 0, 0, 0});
        if (wide) {
            b.insert(b.end(), {0xFF, 0xFE, 0xFF, 3, 'S', 0, 0xE9, 0, '1', 0});
        } else {
            b.insert(b.end(), {4, 'S', 0xC3, 0xA9, '1'});
        }
        // no node name, local, next group number 1, no groups; no live servers
        b.insert(b.end(), {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
        return b;
    };
    WriteBytes(Path("wide.tgv"), file(true));
    EXPECT_EQ(Run({"resave", Path("wide.tgv"), copy}), kExitOk);
    const std::vector<std::uint8_t> canonical = file(false);
    EXPECT_EQ(ReadBytes(copy), canonical);

    EXPECT_EQ(Run({"resave", Path("missing.tgv"), copy}), kExitFailed);
    EXPECT_EQ(err.str(), Path("missing.tgv") + " was not found.\n");
    EXPECT_EQ(ReadBytes(copy), canonical);  // untouched

    EXPECT_EQ(Run({"resave", sample, Path("no/such/dir/out.tgv")}), kExitFailed);
    EXPECT_FALSE(err.str().empty());
    EXPECT_EQ(err.str().find('\n'), err.str().size() - 1);  // one line
}

TEST_F(TgvtoolTest, DumpShowsEveryStoredField) {
    EXPECT_EQ(Run({"dump", WriteSample()}), kExitOk);
    EXPECT_TRUE(err.str().empty());
    std::string widths[3];
    const std::vector<std::vector<int>> defaults{
        {200, 120, 90}, {200, 70, 100, 120, 80, 140, 90}, {70, 150, 80, 80, 230}};
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 32; ++i) {
            const int w = i < static_cast<int>(defaults[k].size()) ? defaults[k][i] : 0;
            widths[k] += (i == 0 ? "" : ", ") + std::to_string(w);
        }
    }
    const std::string expected = R"({
  "reserved": -3,
  "next_item_id": 2,
  "next_group_id": 2,
  "next_server_id": 2,
  "next_server_number": 2,
  "columns": [
    {
      "name": "OPCGroup",
      "kind": 1,
      "widths": [)" + widths[0] + R"(]
    },
    {
      "name": "OPCItem",
      "kind": 2,
      "widths": [)" + widths[1] + R"(]
    },
    {
      "name": "Historical",
      "kind": 3,
      "widths": [)" + widths[2] + R"(]
    }
  ],
  "servers": [
    {
      "id": 1,
      "servername": "Tagvista.Simulator.1",
      "nodename": "plant\"1\"",
      "remote": 1,
      "next_group_number": 2,
      "groups": [
        {
          "id": 1,
          "server_id": 1,
          "reserved": 5,
          "update_rate": 250,
          "name": "Fast",
          "active": 0,
          "items": [
            {
              "id": 1,
              "name": "Température\u00091",
              "path": "Plant.Area1.Line1.Temperature",
              "scale_type": 2,
              "scale_state": true,
              "rawmin": 0,
              "rawmax": 100,
              "engmin": 0,
              "engmax": 100,
              "scale_factor": 0.1,
              "access": 1,
              "value": null,
              "value_text": "x\\y",
              "active": 1,
              "requested_type": 4,
              "canonical_type": 5,
              "timestamp": "2024-05-06 07:08:09.010",
              "quality": 64,
              "state": 2,
              "history": {
                "next_number": 3,
                "enabled": true,
                "capacity": 16,
                "overwrite": false,
                "samples": [
                  {
                    "number": 2,
                    "timestamp": "2024-05-06 07:08:10.000",
                    "value": 1e+300,
                    "quality": 64,
                    "numeric": false,
                    "remark": "high"
                  },
                  {
                    "number": 1,
                    "timestamp": "2024-05-06 07:08:09.000",
                    "value": 0.3333333333333333,
                    "quality": 192,
                    "numeric": true,
                    "remark": ""
                  }
                ]
              }
            }
          ]
        }
      ]
    }
  ],
  "live_servers": 1
}
)";
    EXPECT_EQ(out.str(), expected);

    EXPECT_EQ(Run({"dump", Path("missing.tgv")}), kExitFailed);
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(err.str(), Path("missing.tgv") + " was not found.\n");
}

}  // namespace
