/* SPDX-License-Identifier: BSD-3-Clause */
// Temporary configuration files for the unit tests.
#pragma once

#include "parseXml.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

// A directory of its own holding the configuration file; configFilePath
// points at it for the lifetime of the object.
class TempConfig {
public:
    explicit TempConfig(const std::string &text)
    {
        char tmpl[] = "/tmp/vlmcfgXXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = dir_ + "/vlmSNMPsubagent.xml";
        saved_ = configFilePath;
        configFilePath = path_;
        write(text);
    }
    ~TempConfig()
    {
        configFilePath = saved_;
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
    void write(const std::string &text) const { std::ofstream(path_, std::ios::binary) << text; }
    std::string read() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    const std::string &path() const { return path_; }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_, path_, saved_;
};

// A configuration document from the body of its `details` element.
inline std::string configDoc(const std::string &details)
{
    return "<?xml version=\"1.0\"?>\n<config><type><details>\n" + details + "</details></type></config>\n";
}

// The values the file now holds.
inline ConfigValues reread(const TempConfig &cfg)
{
    std::string text = cfg.read();
    ConfigValues cv;
    readConfigValues(text.data(), static_cast<int>(text.size()), cv);
    return cv;
}
