#include "sim/server_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "com/connection_point.h"
#include "opcda/errors.h"
#include "opcda/ids.h"
#include "sim/address_space.h"

namespace {

TEST(ServerOptions, HresultsInEverySpelling) {
    EXPECT_EQ(ParseHresult("0x80004005"), E_FAIL);
    EXPECT_EQ(ParseHresult("0X8000ffff"), E_UNEXPECTED);
    EXPECT_EQ(ParseHresult("1"), S_FALSE);
    EXPECT_EQ(ParseHresult("2147500037"), E_FAIL);
    EXPECT_EQ(ParseHresult("-2147467259"), E_FAIL);
    EXPECT_EQ(ParseHresult("OPC_E_UNKNOWNITEMID"), OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(ParseHresult("S_FALSE"), S_FALSE);
    for (const char* bad :
         {"", "0x", "0x100000000", "4294967296", "-2147483649", "12a", "e_fail", "-", "0xG"}) {
        EXPECT_EQ(ParseHresult(bad), std::nullopt) << bad;
    }
}

TEST(ServerOptions, FaultsAndLoadOptionsMapOntoTheSimulator) {
    ServerOptions options;
    std::string error;
    ASSERT_TRUE(ParseServerOption("--fail", "AddGroup=0x80004005", &options, &error)) << error;
    ASSERT_TRUE(ParseServerOption("--fail", "IOPCAsyncIO2::Write=S_FALSE", &options, &error));
    ASSERT_TRUE(ParseServerOption("--item-error", "A.b=c=OPC_E_BADRIGHTS", &options, &error));
    ASSERT_TRUE(
        ParseServerOption("--missing-interface", "IOPCBrowseServerAddressSpace", &options, &error));
    ASSERT_TRUE(ParseServerOption("--missing-interface", "{39C13A71-011E-11D0-9675-0020AFD8ADB3}",
                                  &options, &error));
    ASSERT_TRUE(ParseServerOption("--enum-fail-after", "3=E_OUTOFMEMORY", &options, &error));
    ASSERT_TRUE(ParseServerOption("--delay-ms", "25", &options, &error));
    ASSERT_TRUE(ParseServerOption("--load-items", "50", &options, &error));
    ASSERT_TRUE(ParseServerOption("--load-rate", "10", &options, &error));
    ASSERT_TRUE(ParseServerOption("--die-after-ms", "1000", &options, &error));

    const SimFaults& f = options.faults;
    EXPECT_EQ(f.callResults.at("AddGroup"), E_FAIL);
    EXPECT_EQ(f.callResults.at("IOPCAsyncIO2::Write"), S_FALSE);
    EXPECT_EQ(f.itemErrors.at("A.b=c"), OPC_E_BADRIGHTS);  // split at the last '='
    EXPECT_EQ(f.missingInterfaces.count(IID_IOPCBrowseServerAddressSpace), 1u);
    EXPECT_EQ(f.missingInterfaces.count(IID_IOPCAsyncIO2), 1u);
    EXPECT_EQ(f.enumFailAfter, 3);
    EXPECT_EQ(f.enumFailure, E_OUTOFMEMORY);
    EXPECT_EQ(f.delayMs, 25u);
    EXPECT_EQ(options.dieAfterMs, 1000u);
    EXPECT_EQ(options.arguments.size(), 20u);
    EXPECT_EQ(options.arguments[0], "--fail");
    EXPECT_EQ(options.arguments[1], "AddGroup=0x80004005");

    Simulator sim(SimOptionsFor(options));
    ASSERT_TRUE(ApplyServerOptions(options, sim, &error)) << error;
    EXPECT_EQ(sim.Faults().callResults.size(), 2u);
    const auto load = sim.Space().FindBranch("Load");
    ASSERT_TRUE(load);
    EXPECT_EQ(sim.Space().Branch(*load).leaves.size(), 50u);
    EXPECT_TRUE(sim.Space().FindLeaf("Signals.Ramp"));  // the rest of the built-in space
    EXPECT_EQ(SimOptionsFor(options).fastestUpdateRate, 10u);

    struct Bad {
        const char* name;
        const char* value;
    };
    for (const Bad& bad :
         {Bad{"--fail", "AddGroup"}, Bad{"--fail", "=E_FAIL"}, Bad{"--fail", "AddGroup=oops"},
          Bad{"--item-error", "x="}, Bad{"--missing-interface", "IFoo"},
          Bad{"--missing-interface", "{00000000-0000-0000-C000-000000000046}"},
          Bad{"--enum-fail-after", "0"}, Bad{"--enum-fail-after", "2=x"}, Bad{"--delay-ms", "-1"},
          Bad{"--load-items", "3000000"}, Bad{"--load-rate", "0"}, Bad{"--die-after-ms", "soon"},
          Bad{"--address-space", ""}, Bad{"--nonsense", "1"}}) {
        ServerOptions o;
        EXPECT_FALSE(ParseServerOption(bad.name, bad.value, &o, &error))
            << bad.name << " " << bad.value;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(o.arguments.empty());
    }
    // A file declares its own load branch.
    ServerOptions both;
    ASSERT_TRUE(ParseServerOption("--load-items", "5", &both, &error));
    EXPECT_FALSE(ParseServerOption("--address-space", "x.json", &both, &error));
}

TEST(ServerOptions, AddressSpaceFileIsMadeAbsoluteAndABadOneIsRefused) {
    ServerOptions options;
    std::string error;
    ASSERT_TRUE(ParseServerOption("--address-space", "no-such-space.json", &options, &error));
    ASSERT_TRUE(options.addressSpaceFile);
    EXPECT_EQ(options.addressSpaceFile->front(), '/');
    EXPECT_EQ(options.arguments.back(), *options.addressSpaceFile);
    Simulator sim;
    EXPECT_FALSE(ApplyServerOptions(options, sim, &error));
    EXPECT_NE(error.find("no-such-space.json"), std::string::npos);
    // Nothing was changed.
    EXPECT_TRUE(sim.Space().FindLeaf("Signals.Ramp"));
    EXPECT_TRUE(sim.Faults().callResults.empty());
}

TEST(ServerOptions, QuotedArgumentsSplitBackIntoThemselves) {
    EXPECT_EQ(QuoteCommandArgument("plain"), "plain");
    EXPECT_EQ(QuoteCommandArgument("C:\\dir\\"), "C:\\dir\\");  // no quote, no problem
    EXPECT_EQ(QuoteCommandArgument("a b"), "\"a b\"");
    EXPECT_EQ(QuoteCommandArgument(""), "\"\"");
    EXPECT_EQ(QuoteCommandArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(QuoteCommandArgument("a\\\"b"), "\"a\\\\\"b\"");
    EXPECT_EQ(QuoteCommandArgument("ends in \\"), std::nullopt);
    EXPECT_EQ(QuoteCommandArgument("two\nlines"), std::nullopt);
}

TEST(ServerOptions, FaultsWrittenAsOptionsReadBackTheSame) {
    SimFaults faults;
    faults.callResults["AddGroup"] = E_OUTOFMEMORY;
    faults.callResults["IOPCAsyncIO2::Write"] = S_FALSE;
    faults.callResults["GetStatus"] = static_cast<HRESULT>(0x00040005);
    faults.itemErrors["Branch.With Blank"] = OPC_E_UNKNOWNITEMID;
    faults.itemErrors["A.b=c"] = E_FAIL;
    faults.missingInterfaces.insert(IID_IOPCAsyncIO2);
    faults.missingInterfaces.insert(IID_IConnectionPointContainer);
    faults.neverRefuseBrowseUp = true;
    faults.enumFailAfter = 3;
    faults.enumFailure = E_UNEXPECTED;
    faults.delayMs = 60;
    faults.dead = true;

    const std::optional<std::vector<std::string>> arguments = FaultArguments(faults);
    ASSERT_TRUE(arguments);
    SimFaults back;
    back.delayMs = 7;  // replaced, not merged
    std::string error;
    ASSERT_TRUE(ParseFaultArguments(*arguments, &back, &error)) << error;
    EXPECT_EQ(back.callResults, faults.callResults);
    EXPECT_EQ(back.itemErrors, faults.itemErrors);
    EXPECT_EQ(back.missingInterfaces.size(), 2u);
    EXPECT_EQ(back.missingInterfaces.count(IID_IOPCAsyncIO2), 1u);
    EXPECT_EQ(back.missingInterfaces.count(IID_IConnectionPointContainer), 1u);
    EXPECT_TRUE(back.neverRefuseBrowseUp);
    EXPECT_EQ(back.enumFailAfter, 3);
    EXPECT_EQ(back.enumFailure, E_UNEXPECTED);
    EXPECT_EQ(back.delayMs, 60u);
    EXPECT_TRUE(back.dead);

    // No faults: no arguments, and they read back as no faults.
    const std::optional<std::vector<std::string>> none = FaultArguments(SimFaults{});
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    ASSERT_TRUE(ParseFaultArguments(*none, &back, &error));
    EXPECT_TRUE(back.callResults.empty() && back.itemErrors.empty());
    EXPECT_FALSE(back.dead || back.neverRefuseBrowseUp);
    EXPECT_EQ(back.delayMs, 0u);

    // Names no option can carry are refused rather than sent as something else.
    SimFaults emptyItem;
    emptyItem.itemErrors[""] = E_FAIL;
    EXPECT_EQ(FaultArguments(emptyItem), std::nullopt);
    SimFaults brokenMethod;
    brokenMethod.callResults["Add\nGroup"] = E_FAIL;
    EXPECT_EQ(FaultArguments(brokenMethod), std::nullopt);
}

TEST(ServerOptions, FaultArgumentsRefuseAnythingElse) {
    std::string error;
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--load-items", "5"},
                                               {"--address-space", "x.json"},
                                               {"--die-after-ms", "5"},
                                               {"--fail"},
                                               {"--fail", "AddGroup"},
                                               {"--delay-ms", "soon"},
                                               {"AddGroup=E_FAIL"},
                                               {"--dead", "--unknown"}}) {
        SimFaults faults;
        faults.delayMs = 9;
        error.clear();
        EXPECT_FALSE(ParseFaultArguments(bad, &faults, &error)) << bad.front();
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(faults.delayMs, 9u);  // untouched
        EXPECT_FALSE(faults.dead);
    }
    // The switches are options of the program too.
    ServerOptions options;
    EXPECT_TRUE(IsServerFlag("--dead"));
    EXPECT_FALSE(IsServerFlag("--delay-ms"));
    EXPECT_TRUE(ParseServerFlag("--dead", &options));
    EXPECT_TRUE(ParseServerFlag("--never-refuse-browse-up", &options));
    EXPECT_FALSE(ParseServerFlag("--fail", &options));
    EXPECT_TRUE(options.faults.dead && options.faults.neverRefuseBrowseUp);
    EXPECT_EQ(options.arguments, (std::vector<std::string>{"--dead", "--never-refuse-browse-up"}));
}

}  // namespace
