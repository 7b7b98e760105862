// SPDX-License-Identifier: BSD-3-Clause
// Inputs the fuzz targets found a parser mishandling, each with the result
// the parser must give for it.
#include "groups/trapServers/trapServerProbe.h"
#include "lib/trapList.h"

#include <gtest/gtest.h>
#include <string>

// The reader splits a destination line at any blank a C program counts as
// one (vertical tab and form feed too); the editor must find the same host
// word, or a destination that is listed could not have its address changed.
TEST(FuzzRegressions, TrapSinkEditorSplitsWordsLikeTheReader)
{
    const std::string conf = "master agentx\vtrapsink 127.0.0.1 public 162\n"
                             "trapsink\f10.0.0.1\vpublic\t162\r\n";
    const auto sinks = parseTrapSinkLines(conf);
    ASSERT_EQ(sinks.size(), 2u);
    EXPECT_EQ(sinks[0].host, "agentx");
    EXPECT_EQ(sinks[1].host, "10.0.0.1");

    EXPECT_EQ(editTrapSinkHost(conf, 1, "agentx", "192.0.2.7"),
              "master 192.0.2.7\vtrapsink 127.0.0.1 public 162\ntrapsink\f10.0.0.1\vpublic\t162\r\n");
    EXPECT_EQ(editTrapSinkHost(conf, 2, "10.0.0.1", "192.0.2.7"),
              "master agentx\vtrapsink 127.0.0.1 public 162\ntrapsink\f192.0.2.7\vpublic\t162\r\n");
}
