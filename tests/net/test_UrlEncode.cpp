#include "net/UrlEncode.h"

#include <gtest/gtest.h>

using musicservice::urlEncode;

struct EncodeCase
{
    const char16_t *input;
    const char *expected;
};

class UrlEncodeTable : public ::testing::TestWithParam<EncodeCase>
{
};

TEST_P(UrlEncodeTable, EncodesAsTheServiceExpects)
{
    const EncodeCase &c = GetParam();
    EXPECT_EQ(urlEncode(QString::fromUtf16(c.input)).toStdString(), std::string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlEncodeTable,
    ::testing::Values(EncodeCase{u"  ab 1-中 ", "ab%201%2D%E4%B8%AD"}, // the worked example
                      EncodeCase{u"abcXYZ09", "abcXYZ09"}, EncodeCase{u"a b", "a%20b"},
                      EncodeCase{u"-._~+&=%", "%2D%2E%5F%7E%2B%26%3D%25"},
                      EncodeCase{u"\tx", "%09x"},         // tabs are not trimmed
                      EncodeCase{u"x\n", "x%0A"},         // nor line breaks
                      EncodeCase{u"\u00E9", "%E9"},       // 128..255: one escape
                      EncodeCase{u"\u0100", "%E0%84%80"}, // 256..2047: three bytes
                      EncodeCase{u"\u01FF", "%E0%87%BF"}, EncodeCase{u"\uFFFF", "%EF%BF%BF"},
                      EncodeCase{u"   ", ""}, EncodeCase{u"", ""}, EncodeCase{u"\u007F", "%7F"},
                      // U+1F600 is two surrogate units, each its own group.
                      EncodeCase{u"\U0001F600", "%ED%A0%BD%ED%B8%80"}),
    [](const ::testing::TestParamInfo<EncodeCase> &info) { return std::to_string(info.index); });
