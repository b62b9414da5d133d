#include "app/LoginPort.h"

#include <gtest/gtest.h>

using namespace kevra;

TEST(LoginPort, EmptyGivesTheDefaultAndOnlyOneTo65535IsAccepted)
{
    const struct {
        const char16_t* text;
        int port;   // 0: refused
    } cases[] = {
        {u"", 34567}, {u"1", 1},     {u"65535", 65535}, {u"00080", 80},
        {u"0", 0},    {u"65536", 0}, {u"106537", 0},    {u"99999999999999999999", 0},
        {u"-1", 0},   {u"80a", 0},   {u" 80", 0},       {u"８０", 0},
    };
    for (const auto& c : cases) {
        const LoginPort::Checked r = LoginPort::check(c.text, 34567);
        EXPECT_EQ(r.port, c.port) << int(c.text[0]);
        EXPECT_EQ(r.ok(), c.port != 0);
        EXPECT_EQ(std::u16string(r.ok() ? u"" : r.problemKey), r.ok() ? u"" : u"PORT_RANGE");
    }
    EXPECT_FALSE(LoginPort::check(u"", 0).ok());   // a default that is no port is no way out
}
