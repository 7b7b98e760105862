// SPDX-License-Identifier: BSD-3-Clause
// The Wi-Fi and mobile broadband probes: their shared string utilities, the
// nmcli listings and device blocks, the modems' AT answers and connection
// files, and both refreshes run against captured nmcli outputs.
#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "setJournal.h"
#include "startup.h"
#include "groups/mobile/mobileInfoFrame.h"
#include "groups/mobile/mobileProbe.h"
#include "groups/wireless/nmcli.h"
#include "groups/wlan/wlanInfoFrame.h"
#include "groups/wlan/wlanProbe.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string fixture(const std::string &name)
{
    std::ifstream in(std::string(VLM_FIXTURE_DIR) + "/nmcli/" + name + ".txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_FALSE(ss.str().empty()) << "missing fixture " << name;
    return ss.str();
}

std::string ip(in_addr_t address)
{
    in_addr a;
    a.s_addr = address;
    return inet_ntoa(a);
}

// -- string utilities ----------------------------------------------------------------

TEST(WirelessText, RemovingFunctionsShortenTheTextInPlaceAndNothingBeyondIt)
{
    struct Case {
        char *(*fn)(char *);
        const char *in, *out;
    } cases[] = {
        {delSpace, " a b  c ", "abc"},        {delSubtract, "--a-b--", "ab"},
        {delAdd, "+1+555+", "1555"},          {delEnter, "\na\nb\n", "ab"},
        {delQuotes, "\"Net\",\"x\"", "Net,x"}, {delReturn, "\r12\r\n", "12\n"},
        {delSpace, "", ""},                   {delSubtract, "----", ""},
    };
    for (const Case &c : cases) {
        // The text sits at the end of its buffer, fenced by canary bytes.
        const size_t len = strlen(c.in);
        std::vector<char> buf(len + 1 + 8, '#');
        memcpy(buf.data(), c.in, len + 1);
        EXPECT_EQ(c.fn(buf.data()), buf.data());
        EXPECT_STREQ(buf.data(), c.out) << c.in;
        EXPECT_EQ(std::string(buf.data() + len + 1, 8), std::string(8, '#')) << c.in;
    }
    EXPECT_EQ(delSpace(nullptr), nullptr);

    EXPECT_EQ(isNumber('0'), 1);
    EXPECT_EQ(isNumber('9'), 1);
    EXPECT_EQ(isNumber('a'), 0);
    EXPECT_EQ(isNumber('+'), 0);
    // judgeChar counts each text afresh: nothing carries over from a call
    // before.
    EXPECT_EQ(judgeChar("+COPS: 0,0,\"Net\",7", ','), 3);
    EXPECT_EQ(judgeChar("a,b", ','), 1);
    EXPECT_EQ(judgeChar("", ','), 0);
    EXPECT_EQ(judgeChar(nullptr, ','), 0);
}

// -- the Wi-Fi listing ----------------------------------------------------------------

TEST(WifiListing, ColumnsComeFromTheHeaderAndOnlyActiveLinesCount)
{
    std::vector<wifiListLine> lines = parseWifiListing(fixture("wifi_two"));
    ASSERT_EQ(lines.size(), 2u);
    // Filler blanks stay in the SSID, BSSID, signal and security texts.
    EXPECT_EQ(lines[0].device, "wlan0");
    EXPECT_EQ(lines[0].ssid, "HomeNet      ");
    EXPECT_EQ(lines[0].bssid, "A4:2B:B0:C1:22:10  ");
    EXPECT_EQ(lines[0].mode, 0);
    EXPECT_EQ(lines[0].signal, "78      ");
    EXPECT_EQ(lines[0].security, "WPA2         ");
    EXPECT_EQ(lines[1].device, "wlan1");
    EXPECT_EQ(lines[1].ssid, "Workshop-5G  ");
    EXPECT_EQ(lines[1].security, "WPA2 802.1X  ");

    // A visible network whose name contains "yes" is not an active one.
    lines = parseWifiListing(fixture("wifi_one"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].ssid, "HomeNet     ");
    EXPECT_TRUE(parseWifiListing(fixture("wifi_none")).empty());

    lines = parseWifiListing(fixture("wifi_modes"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].mode, 1);   // Ad-Hoc
    EXPECT_EQ(lines[1].mode, 2);   // Mesh
    EXPECT_EQ(lines[0].signal, "100     ");
}

TEST(WifiListing, LinesAreSlicedAtTheHeaderColumnsAndCutToTheirFields)
{
    // Another spacing than the fixtures': the layout is the header's.
    auto pad = [](std::string text, size_t width) {
        text.resize(width, ' ');
        return text;
    };
    const std::string ssid32 = "Production Hall 7 North Entrance";
    const std::string security = "WPA1 WPA2 802.1X WPA3 and some more text";
    const std::string listing =
        pad("DEVICE", 22) + pad("ACTIVE", 7) + pad("SSID", 34) + pad("BSSID", 18) + pad("MODE", 6) +
        pad("SIGNAL", 7) + "SECURITY\n" + pad("wlx00c0ca9a1b2c3d4e5", 22) + pad("yes", 7) + pad(ssid32, 34) +
        pad("00:C0:CA:9A:1B:2C", 18) + pad("Infra", 6) + pad("5", 7) + security + "\n" + pad("wlan0", 22) +
        pad("yes", 7) + "x\n";
    std::vector<wifiListLine> lines = parseWifiListing(listing);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].device, "wlx00c0ca9a1b2c3d4e");   // 19 characters, blanks then removed
    EXPECT_EQ(lines[0].ssid, ssid32 + "  ");
    EXPECT_EQ(lines[0].bssid, "00:C0:CA:9A:1B:2C ");
    EXPECT_EQ(lines[0].mode, 0);
    EXPECT_EQ(lines[0].signal, "5      ");
    EXPECT_EQ(lines[0].security, security.substr(0, 39));
    // A line that ends inside the SSID column has empty columns after it.
    EXPECT_EQ(lines[1].ssid, "x");
    EXPECT_EQ(lines[1].bssid, "");
    EXPECT_EQ(lines[1].mode, 2);

    // Without every header word, in order, nothing is read.
    EXPECT_TRUE(parseWifiListing("DEVICE ACTIVE SSID MODE SIGNAL SECURITY\nwlan0 yes a Infra 5 --\n").empty());
    EXPECT_TRUE(parseWifiListing("").empty());
}

// -- nmcli dev show ----------------------------------------------------------------------

TEST(DevShow, EachDeviceTakesTheValuesItsBlockLeaves)
{
    std::map<std::string, devShowValues> blocks = parseDevShow(fixture("show_two"));
    ASSERT_EQ(blocks.count("wlan0"), 1u);
    EXPECT_EQ(blocks["wlan0"].connection, "HomeNet");
    EXPECT_EQ(blocks["wlan0"].address, "192.168.1.57");   // prefix length dropped
    EXPECT_EQ(blocks["wlan0"].gateway, "192.168.1.1");
    EXPECT_EQ(blocks["wlan1"].connection, "Workshop 5G");
    EXPECT_EQ(blocks["wlan1"].address, "10.20.30.41");
    // The last block has no blank line after it and is read all the same.
    ASSERT_EQ(blocks.count("lo"), 1u);
    EXPECT_EQ(blocks["lo"].address, "127.0.0.1");
    EXPECT_EQ(blocks["lo"].gateway, "--");

    // A disconnected interface has no IP4 lines: it carries the addresses of
    // the block before it (eth0's), its own connection "--".
    blocks = parseDevShow(fixture("show_none"));
    EXPECT_EQ(blocks["wlan0"].connection, "--");
    EXPECT_EQ(blocks["wlan0"].address, "192.168.10.23");
    EXPECT_EQ(blocks["wlan0"].gateway, "192.168.10.1");

    // No gateway: nmcli's "--"; a mesh link with IPv6 only carries the ad hoc
    // block's address and "--".
    blocks = parseDevShow(fixture("show_modes"));
    EXPECT_EQ(blocks["wlan0"].gateway, "--");
    EXPECT_EQ(blocks["wlan1"].connection, "plant-mesh");
    EXPECT_EQ(blocks["wlan1"].address, "10.42.0.1");
    EXPECT_EQ(blocks["wlan1"].gateway, "--");
}

TEST(DevShow, MissingKeysAndUnnamedBlocks)
{
    auto line = [](const std::string &key, const std::string &value) {
        return key + std::string(40 - key.size(), ' ') + value + "\n";
    };
    const std::string text = line("GENERAL.DEVICE:", "wlan3") + line("GENERAL.CONNECTION:", "First") +
                             line("IP4.ADDRESS[1]:", "10.1.1.9/24") + "\n" +
                             line("GENERAL.DEVICE:", "eth1") + line("IP4.GATEWAY:", "10.9.9.1") + "\n" +
                             line("GENERAL.TYPE:", "wifi") + line("IP4.GATEWAY:", "10.7.7.1") + "\n" +
                             line("GENERAL.DEVICE:", "wlan2") + line("GENERAL.CONNECTION:", "Second") + "\n";
    std::map<std::string, devShowValues> blocks = parseDevShow(text);
    // The first block never saw a gateway: empty, not a later block's.
    EXPECT_EQ(blocks["wlan3"].gateway, "");
    EXPECT_EQ(blocks["wlan3"].address, "10.1.1.9");
    EXPECT_EQ(blocks["eth1"].connection, "First");
    // A block without GENERAL.DEVICE names nothing but still moves the
    // carried values on.
    EXPECT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks["wlan2"].gateway, "10.7.7.1");
    EXPECT_EQ(blocks["wlan2"].address, "10.1.1.9");
    // A line shorter than the value column has an empty value.
    EXPECT_EQ(parseDevShow("GENERAL.DEVICE: wlan0\n").size(), 0u);
}

// -- the modem listing and the AT answers --------------------------------------------------

TEST(ModemListing, GsmAndCdmaLinesWithTheirStateAndConnection)
{
    std::vector<modemListLine> lines = parseModemListing(fixture("status_two"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].device, "ttyACM0");
    EXPECT_EQ(lines[0].state, "connected");
    EXPECT_EQ(lines[0].connection, "TelcoNet            ");   // as printed, filler kept
    EXPECT_EQ(lines[1].device, "ttyUSB2");
    EXPECT_EQ(lines[1].state, "disconnected");
    EXPECT_EQ(lines[1].connection, "--                  ");

    EXPECT_TRUE(parseModemListing(fixture("status_none")).empty());
    ASSERT_EQ(parseModemListing(fixture("status_unavailable")).size(), 1u);
    EXPECT_EQ(parseModemListing(fixture("status_unavailable"))[0].state, "unavailable");

    // A Wi-Fi interface whose connection is called gsm-backup is no modem,
    // nor is a modem that is still connecting.
    const std::string listing = "DEVICE   TYPE  STATE                CON-UUID  CONNECTION  \n"
                                "wlan0    wifi  connected            1234      gsm-backup  \n"
                                "ttyUSB0  gsm   connecting (prepare) 5678      TelcoNet    \n"
                                "ttyUSB3  gsm   connected (externally) 9abc    Telco 2     \n";
    lines = parseModemListing(listing);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].device, "ttyUSB3");
}

TEST(AtAnswers, SignalOperatorImeiAndNumberRules)
{
    EXPECT_EQ(firstLine("+CSQ: 18,99\nOK\n"), "+CSQ: 18,99\n");
    EXPECT_EQ(firstLine("no newline"), "no newline");
    EXPECT_EQ(firstLine(std::string(2000, 'x') + "\n").size(), 1023u);

    EXPECT_EQ(csqSignal("+CSQ: 18,99\n"), "18");
    EXPECT_EQ(csqSignal("+CSQ: 21,99\r\n"), "21");
    EXPECT_EQ(csqSignal("+CSQ: 7,99\n"), "7");
    EXPECT_EQ(csqSignal("ERROR\n"), "");
    EXPECT_EQ(csqSignal("+CSQ:18,99\n"), "");
    EXPECT_EQ(csqSignal(""), "");

    // Three commas: mode, format, "name", access technology.
    EXPECT_EQ(copsOperator("+COPS: 0,0,\"Net\",7\n"), "Net");
    EXPECT_EQ(copsOperator("+COPS: 0,0,\"Telco Nord\",2\r\n"), "Telco Nord");
    // Two commas: the rest of the line, quotes and carriage returns taken
    // out, its newline kept.
    EXPECT_EQ(copsOperator("+COPS: 0,0,\"Net\"\r\n"), "Net\n");
    EXPECT_EQ(copsOperator("+COPS: 0\n"), "");
    EXPECT_EQ(copsOperator("ERROR\n"), "");

    EXPECT_EQ(cgsnImei("356938035643809\n"), "356938035643809");
    // An answer ending in a carriage return and a newline keeps the newline.
    EXPECT_EQ(cgsnImei("356938035643809\r\n"), "356938035643809\n");
    EXPECT_EQ(cgsnImei("ERROR\n"), "");
    EXPECT_EQ(cgsnImei("+CGSN: 356938035643809\n"), "");
    EXPECT_EQ(cgsnImei(""), "");

    EXPECT_EQ(cnumNumber("+CNUM: \"\",\"+15551234567\",145\n"), "+15551234567");
    EXPECT_EQ(cnumNumber("+CNUM: \"Own number\",\"+4915112345678\",145\r\n"), "+4915112345678");
    EXPECT_EQ(cnumNumber("+CNUM: ,,129\n"), "");   // no number stored
    EXPECT_EQ(cnumNumber("OK\n"), "");
    EXPECT_EQ(cnumNumber("ERROR\n"), "");
}

// -- connection files ---------------------------------------------------------------------

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/vlmnmXXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
    void write(const std::string &name, const std::string &text) const
    {
        std::ofstream(path_ + "/" + name, std::ios::binary) << text;
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

TEST(ConnectionFiles, ReadDirectlyByNameWithTheLastApnLine)
{
    TempDir dir;
    const std::string saved = nmConnectionDirectory;
    nmConnectionDirectory = dir.path();
    // A name an operator may choose: it is a file name, never a command.
    const std::string evil = "Telco;touch INJECTED;$(id) `x`";
    dir.write(evil, "[gsm]\napn=first.apn\nnumber=*99#\napn=safe.apn\n");
    std::string text, apn;
    ASSERT_TRUE(readConnectionFile(evil + "    ", text));   // nmcli's filler does not count
    ASSERT_TRUE(connectionApn(text, apn));
    EXPECT_EQ(apn, "safe.apn");

    dir.write(".hidden", "apn=x\n");
    mkdir((dir.path() + "/sub").c_str(), 0700);
    dir.write("sub/inner", "apn=x\n");
    for (const char *name : {"", "   ", ".hidden", "../etc", "sub/inner", "sub", "absent"})
        EXPECT_FALSE(readConnectionFile(name, text)) << name;
    nmConnectionDirectory = saved;

    // Only lines that begin with "apn=" count.
    EXPECT_FALSE(connectionApn("[gsm]\n# apn=old\napn-user=x\nnumber=*99#\n", apn));
    ASSERT_TRUE(connectionApn("apn=internet.telco", apn));
    EXPECT_EQ(apn, "internet.telco");
    ASSERT_TRUE(connectionApn("apn=\n", apn));
    EXPECT_EQ(apn, "");
}

// -- the refreshes ---------------------------------------------------------------------------

// The outputs the fake system gives: nmcli's by listing, modem-cmd's by the
// whole command line, so that the quoting is part of what must match.
struct FakeSystem {
    std::string wifi, status, show;
    bool listingHangs = false;
    std::map<std::string, std::string> modem;
    std::vector<std::string> commands;
};
FakeSystem fake;

CommandResult fakeRun(const char *command, double)
{
    fake.commands.push_back(command);
    CommandResult r;
    r.started = true;
    r.status = 0;
    const std::string c(command);
    if (c.find("dev wifi list") != std::string::npos || c.find("dev status") != std::string::npos) {
        if (fake.listingHangs) {
            r.timedOut = true;
            r.status = -1;
            return r;
        }
        r.output = c.find("wifi") != std::string::npos ? fake.wifi : fake.status;
    } else if (c.find("nmcli dev show") != std::string::npos) {
        r.output = fake.show;
    } else {
        auto it = fake.modem.find(c);
        if (it != fake.modem.end())
            r.output = it->second;
        else
            r.status = 1;
    }
    return r;
}

int count(const std::vector<std::string> &commands, const std::string &part)
{
    int n = 0;
    for (const std::string &c : commands)
        n += c.find(part) != std::string::npos;
    return n;
}

class WirelessRefresh : public testing::Test {
protected:
    void SetUp() override
    {
        fake = FakeSystem();
        savedRun_ = wirelessRunCommand;
        wirelessRunCommand = fakeRun;
        savedDir_ = nmConnectionDirectory;
        nmConnectionDirectory = dir_.path();
        INIT_LIST_HEAD(&Global_mobileDevList.list);
    }
    void TearDown() override
    {
        wirelessRunCommand = savedRun_;
        nmConnectionDirectory = savedDir_;
        freeList<wlanInfo>(&Global_wlanInfoList);
        freeList<wlanEntryList>(&Global_wlanEntryList);
        freeList<mobileInfo>(&Global_mobileInfoList);
        freeList<mobileEntryList>(&Global_mobileEntryList);
        freeList<mobileDev_list>(&Global_mobileDevList.list);
        while (Global_wlanTable_head)
            wlanObjTable_removeEntry(Global_wlanTable_head);
        while (Global_mobileTable_head)
            mobileObjTable_removeEntry(Global_mobileTable_head);
        Global_wlanCounter = Global_wlanNumber = Global_entryWlanFlag = 0;
        Global_mobileCounter = Global_mobileNumber = Global_entryMobileFlag = 0;
    }

    template <typename T>
    static void freeList(list_head *head)
    {
        while (!list_empty(head)) {
            list_head *first = head->next;
            list_del(first);
            free(list_entry(first, T, list));
        }
    }

    static void pairs(std::vector<std::string> words)
    {
        words.insert(words.begin(), "vlm_subagent");
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(&w[0]);
        initMobileDeviceNode(static_cast<int>(argv.size()), argv.data());
    }

    static void wifi(const char *listing, const char *show)
    {
        fake.wifi = fixture(listing);
        fake.show = fixture(show);
    }

    // Rows by index; a second row with the same index fails the test.
    static std::map<long, wlanObjTable_entry> wlanRows()
    {
        std::map<long, wlanObjTable_entry> rows;
        for (const wlanObjTable_entry *r = Global_wlanTable_head; r; r = r->next)
            EXPECT_TRUE(rows.emplace(r->wlanIndex, *r).second) << "index " << r->wlanIndex << " twice";
        return rows;
    }
    static std::map<long, mobileObjTable_entry> mobileRows()
    {
        std::map<long, mobileObjTable_entry> rows;
        for (const mobileObjTable_entry *r = Global_mobileTable_head; r; r = r->next)
            EXPECT_TRUE(rows.emplace(r->mbIndex, *r).second) << "index " << r->mbIndex << " twice";
        return rows;
    }

    // The answers of a modem on `port`, keyed by the command lines the
    // refresh must run.
    static void answers(const std::string &port, const std::map<std::string, std::string> &byCommand)
    {
        for (const auto &[command, answer] : byCommand)
            fake.modem["modem-cmd '" + port + "' '" + command + "'"] = answer;
    }

    TempDir dir_;

private:
    CommandResult (*savedRun_)(const char *, double) = nullptr;
    std::string savedDir_;
};

TEST_F(WirelessRefresh, WifiTableGrowsToTwoRowsAndShrinksToOneWithIndexOne)
{
    wifi("wifi_one", "show_one");
    ASSERT_EQ(getWlanInfo(), 1);
    // The very first refresh already has the name and both addresses.
    std::map<long, wlanObjTable_entry> rows = wlanRows();
    ASSERT_EQ(rows.size(), 1u);
    const wlanObjTable_entry &home = rows[1];
    EXPECT_STREQ(home.wlanName, "HomeNet");
    EXPECT_STREQ(home.wlanSSID, "HomeNet     ");
    EXPECT_STREQ(home.wlanBSSID, "A4:2B:B0:C1:22:10  ");
    EXPECT_EQ(home.wlanMode, 0);
    EXPECT_EQ(ip(home.wlanIPAddress), "192.168.1.57");
    EXPECT_EQ(ip(home.wlanGateway), "192.168.1.1");
    EXPECT_EQ(home.wlanSignalStrength, 78);
    EXPECT_STREQ(home.wlanEncryption, "WPA2       ");
    EXPECT_EQ(home.wlanState, 1);
    EXPECT_EQ(Global_wlanNumber, 1);

    // A second interface connects: two rows in listing order. A state set
    // over SNMP meanwhile is back to 1.
    Global_wlanTable_head->wlanState = 5;
    wifi("wifi_two", "show_two");
    ASSERT_EQ(getWlanInfo(), 1);
    rows = wlanRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(rows[1].wlanName, "HomeNet");
    EXPECT_EQ(rows[1].wlanState, 1);
    EXPECT_STREQ(rows[2].wlanName, "Workshop 5G");
    EXPECT_STREQ(rows[2].wlanSSID, "Workshop-5G  ");
    EXPECT_EQ(ip(rows[2].wlanIPAddress), "10.20.30.41");
    EXPECT_EQ(rows[2].wlanSignalStrength, 64);
    EXPECT_EQ(Global_wlanNumber, 2);

    // The first one disconnects: one row, index 1, the second interface's.
    wifi("wifi_second", "show_second");
    ASSERT_EQ(getWlanInfo(), 1);
    rows = wlanRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[1].wlanName, "Workshop 5G");
    EXPECT_EQ(ip(rows[1].wlanGateway), "10.20.30.1");
    EXPECT_EQ(Global_wlanNumber, 1);

    // Nothing active: no row, and "nmcli dev show" is not run for it.
    wifi("wifi_none", "show_none");
    const int shows = count(fake.commands, "dev show");
    ASSERT_EQ(getWlanInfo(), 1);
    EXPECT_TRUE(wlanRows().empty());
    EXPECT_EQ(Global_wlanNumber, 0);
    EXPECT_EQ(count(fake.commands, "dev show"), shows);
    // Every nmcli runs in the C locale, whose words the parsers know.
    for (const std::string &c : fake.commands)
        EXPECT_EQ(c.rfind("LC_ALL=C nmcli ", 0), 0u) << c;
}

TEST_F(WirelessRefresh, WifiModesAndAnInterfaceWithoutGateway)
{
    wifi("wifi_modes", "show_modes");
    getWlanInfo();
    std::map<long, wlanObjTable_entry> rows = wlanRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].wlanMode, 1);
    EXPECT_EQ(ip(rows[1].wlanIPAddress), "10.42.0.1");
    EXPECT_EQ(ip(rows[1].wlanGateway), "0.0.0.0");   // "--"
    EXPECT_EQ(rows[1].wlanSignalStrength, 100);
    // The mesh link's block has no IPv4 lines: it shows the values the ad hoc
    // block left.
    EXPECT_EQ(rows[2].wlanMode, 2);
    EXPECT_STREQ(rows[2].wlanName, "plant-mesh");
    EXPECT_EQ(ip(rows[2].wlanIPAddress), "10.42.0.1");
    EXPECT_EQ(ip(rows[2].wlanGateway), "0.0.0.0");
}

TEST_F(WirelessRefresh, AListingThatTimesOutChangesNothing)
{
    wifi("wifi_two", "show_two");
    getWlanInfo();
    fake.listingHangs = true;
    EXPECT_EQ(getWlanInfo(), 0);
    EXPECT_EQ(wlanRows().size(), 2u);
    EXPECT_EQ(Global_wlanNumber, 2);

    // Before any refresh has finished the mobile group waits for a listing.
    EXPECT_EQ(getMobileInfo(), 0);
    EXPECT_EQ(Global_entryMobileFlag, 0);
}

TEST_F(WirelessRefresh, AConnectedModemIsAskedOnItsPairedPortWithQuotedArguments)
{
    pairs({"/dev/ttyACM0", "/dev/ttyACM2"});
    fake.status = fixture("status_connected");
    fake.show = fixture("show_modem_connected");
    dir_.write("TelcoNet", "[gsm]\napn=internet.telco\nnumber=*99#\n");
    answers("/dev/ttyACM2", {{"AT+CSQ", "+CSQ: 21,99\r\nOK\r\n"},
                             {"AT+COPS?", "+COPS: 0,0,\"Net\",7\r\nOK\r\n"},
                             {"AT+CGSN", "356938035643809\nOK\n"},
                             {"AT+CNUM", "+CNUM: \"\",\"+15551234567\",145\nOK\n"}});
    ASSERT_EQ(getMobileInfo(), 1);
    std::map<long, mobileObjTable_entry> rows = mobileRows();
    ASSERT_EQ(rows.size(), 1u);
    const mobileObjTable_entry &m = rows[1];
    EXPECT_STREQ(m.mbAPName, "internet.telco");
    EXPECT_EQ(ip(m.mbIPAddress), "10.64.12.7");
    EXPECT_EQ(ip(m.mbGateway), "10.64.12.5");
    EXPECT_EQ(m.mbSignalStrength, 21);
    EXPECT_STREQ(m.mbISPName, "Net");
    EXPECT_STREQ(m.mbMsisdn, "+15551234567");
    EXPECT_STREQ(m.mbIMEI, "356938035643809");
    EXPECT_EQ(m.mbState, 1);
    EXPECT_EQ(Global_mobileNumber, 1);
    // Every AT command went to the paired port, nothing to the base node.
    EXPECT_EQ(count(fake.commands, "modem-cmd '/dev/ttyACM2' 'AT+"), 4);
    EXPECT_EQ(count(fake.commands, "ttyACM0"), 0);

    // Unknown answers later (ERROR, no number): the IMEI and number go.
    answers("/dev/ttyACM2", {{"AT+CGSN", "ERROR\n"}, {"AT+CNUM", "OK\n"}});
    getMobileInfo();
    rows = mobileRows();
    EXPECT_STREQ(rows[1].mbIMEI, "");
    EXPECT_STREQ(rows[1].mbMsisdn, "");
    EXPECT_STREQ(rows[1].mbISPName, "Net");
}

TEST_F(WirelessRefresh, ModemWithoutPairOrNotConnected)
{
    // No pair names ttyACM0: the AT commands go out without a port.
    pairs({"/dev/ttyUSB0", "/dev/ttyUSB2"});
    fake.status = fixture("status_unavailable");
    fake.show = fixture("show_modem_unavailable");
    fake.modem["modem-cmd 'AT+CGSN'"] = "356938035643809\n";
    getMobileInfo();
    std::map<long, mobileObjTable_entry> rows = mobileRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(ip(rows[1].mbIPAddress), "0.0.0.0");
    EXPECT_EQ(ip(rows[1].mbGateway), "0.0.0.0");
    EXPECT_EQ(rows[1].mbState, 2);
    EXPECT_STREQ(rows[1].mbMsisdn, "");
    EXPECT_STREQ(rows[1].mbIMEI, "356938035643809");
    EXPECT_STREQ(rows[1].mbAPName, "");
    // Unavailable: only the IMEI is asked for.
    EXPECT_EQ(count(fake.commands, "modem-cmd"), 1);

    // Disconnected: the number is asked for too.
    fake.status = fixture("status_disconnected");
    fake.show = fixture("show_modem_disconnected");
    fake.modem["modem-cmd 'AT+CNUM'"] = "+CNUM: \"\",\"+15551234567\",145\n";
    getMobileInfo();
    rows = mobileRows();
    EXPECT_STREQ(rows[1].mbMsisdn, "+15551234567");
    EXPECT_EQ(rows[1].mbState, 2);
    EXPECT_EQ(count(fake.commands, "'AT+CNUM'"), 1);
}

TEST_F(WirelessRefresh, ModemsAreTakenOnAtTheFirstRefreshOnly)
{
    pairs({"/dev/ttyACM0", "/dev/ttyACM2"});
    fake.status = fixture("status_none");
    fake.show = fixture("show_none");
    getMobileInfo();
    EXPECT_EQ(Global_mobileNumber, 0);
    // A modem plugged in later is counted, never given a row.
    fake.status = fixture("status_connected");
    fake.show = fixture("show_modem_connected");
    getMobileInfo();
    getMobileInfo();
    EXPECT_EQ(Global_mobileNumber, 1);
    EXPECT_TRUE(mobileRows().empty());
    EXPECT_EQ(count(fake.commands, "modem-cmd"), 0);
}

TEST_F(WirelessRefresh, RowsStayWhileTheModemCountChanges)
{
    pairs({"/dev/ttyACM0", "/dev/ttyACM2", "/dev/ttyUSB2", "/dev/ttyUSB4"});
    fake.status = fixture("status_two");
    fake.show = fixture("show_two_modems");
    answers("/dev/ttyACM2", {{"AT+CSQ", "+CSQ: 18,99\n"}});
    answers("/dev/ttyUSB4", {{"AT+CGSN", "A100004B2C3D4E\n"}, {"AT+CNUM", "+CNUM: \"\",\"5551234\",129\n"}});
    getMobileInfo();
    std::map<long, mobileObjTable_entry> rows = mobileRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].mbSignalStrength, 18);
    EXPECT_EQ(rows[1].mbState, 1);
    EXPECT_EQ(rows[2].mbState, 2);
    EXPECT_STREQ(rows[2].mbIMEI, "");   // a CDMA MEID starts with a letter
    EXPECT_STREQ(rows[2].mbMsisdn, "5551234");

    // The second modem goes: the count follows, the rows stay as they were
    // for this refresh...
    fake.status = fixture("status_connected");
    fake.show = fixture("show_modem_connected");
    answers("/dev/ttyACM2", {{"AT+CSQ", "+CSQ: 25,99\n"}});
    getMobileInfo();
    EXPECT_EQ(Global_mobileNumber, 1);
    rows = mobileRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].mbSignalStrength, 18);
    // ...and are both rewritten from the next one on, the gone modem's with
    // its last values.
    getMobileInfo();
    rows = mobileRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].mbSignalStrength, 25);
    EXPECT_STREQ(rows[2].mbMsisdn, "5551234");
}


// -- the writable state column -------------------------------------------------------

// One SET phase of a request of one INTEGER varbind on the Wi-Fi or mobile
// table; the varbind's error status.
int statePhase(Netsnmp_Node_Handler *handler, int mode, long index, int column, long value)
{
    netsnmp_request_info request{};
    netsnmp_table_request_info table{};
    table.colnum = static_cast<unsigned>(column);
    netsnmp_variable_list *list = nullptr;
    oid name[] = {1, 3, 6, 1, 4, 1, 42424, 106, 1, 2, 2, 1, static_cast<oid>(column), static_cast<oid>(index)};
    netsnmp_variable_list *var =
        snmp_varlist_add_variable(&list, name, OID_LENGTH(name), ASN_INTEGER, &value, sizeof value);
    request.requestvb = var;
    netsnmp_request_add_list_data(
        &request, netsnmp_create_data_list(TABLE_ITERATOR_NAME,
                                           reinterpret_cast<void *>(static_cast<uintptr_t>(index)), nullptr));
    netsnmp_request_add_list_data(&request, netsnmp_create_data_list(TABLE_HANDLER_NAME, &table, nullptr));
    netsnmp_agent_request_info reqinfo{};
    reqinfo.mode = mode;
    handler(nullptr, nullptr, &reqinfo, &request);
    const int status = request.status;
    snmp_free_varbind(var);
    netsnmp_free_request_data_sets(&request);
    return status;
}

TEST_F(WirelessRefresh, AStateSetIsUndoneFromItsJournalAndNeedsItsRow)
{
    // Faults: UNDO leaving the new value; an ACTION on a row gone since the
    // check succeeding; another column or a missing row accepted.
    wifi("wifi_two", "show_two");
    ASSERT_EQ(getWlanInfo(), 1);
    fake.status = fixture("status_two");
    fake.show = fixture("show_two_modems");
    ASSERT_EQ(getMobileInfo(), 1);

    struct Table {
        Netsnmp_Node_Handler *handler;
        int stateColumn;
        std::function<long *(long)> state;   // the row's state, null without the row
    } tables[] = {
        {wlanObjTable_handler, COLUMN_WLANSTATE,
         [](long i) { auto *r = findRowByIndex(Global_wlanTable_head, i); return r ? &r->wlanState : nullptr; }},
        {mobileObjTable_handler, COLUMN_MBSTATE,
         [](long i) { auto *r = findRowByIndex(Global_mobileTable_head, i); return r ? &r->mbState : nullptr; }},
    };
    long transaction = 1000;
    for (const Table &t : tables) {
        ASSERT_NE(t.state(1), nullptr);
        const long before = *t.state(1);
        setJournal::begin(++transaction);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_RESERVE1, 1, t.stateColumn, 7), SNMP_ERR_NOERROR);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_ACTION, 1, t.stateColumn, 7), SNMP_ERR_NOERROR);
        EXPECT_EQ(*t.state(1), 7);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_UNDO, 1, t.stateColumn, 7), SNMP_ERR_NOERROR);
        EXPECT_EQ(*t.state(1), before);

        // A committed value stays: the journal record is gone.
        setJournal::begin(++transaction);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_ACTION, 1, t.stateColumn, 9), SNMP_ERR_NOERROR);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_COMMIT, 1, t.stateColumn, 9), SNMP_ERR_NOERROR);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_UNDO, 1, t.stateColumn, 9), SNMP_ERR_NOERROR);
        EXPECT_EQ(*t.state(1), 9);

        setJournal::begin(++transaction);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_RESERVE1, 1, t.stateColumn - 1, 1), SNMP_ERR_NOTWRITABLE);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_RESERVE1, 99, t.stateColumn, 1), SNMP_ERR_NOCREATION);
        EXPECT_EQ(statePhase(t.handler, MODE_SET_ACTION, 99, t.stateColumn, 1), SNMP_ERR_COMMITFAILED);
    }
}

} // namespace
