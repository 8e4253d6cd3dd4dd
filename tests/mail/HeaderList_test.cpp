#include "mail/HeaderList.h"

#include <gtest/gtest.h>

TEST(HeaderList, IndexOfHeaderComparesTheKeyBeforeTheFirstColon)
{
    const HeaderList list{"no colon here", "X-Note:a:b", "Subject : spaced", "subject: real", "SUBJECT: later"};
    EXPECT_EQ(list.IndexOfHeader("SUBJECT"), 3); // "Subject " with its blank is another key
    EXPECT_EQ(list.IndexOfHeader("x-note"), 1);
    EXPECT_EQ(list.IndexOfHeader("no colon here"), -1);
    EXPECT_EQ(list.IndexOfHeader("a"), -1);
    EXPECT_EQ(list.IndexOfHeader(""), -1);
    EXPECT_EQ(HeaderList{": empty key"}.IndexOfHeader(""), 0);
}

TEST(HeaderList, SetHeaderValueReplacesAppendsAndDeletes)
{
    HeaderList list{"From: a", "subject: old", "To: b"};
    list.SetHeaderValue("Subject", "new: with colon");
    EXPECT_EQ(list, HeaderList({"From: a", "Subject: new: with colon", "To: b"}));
    list.SetHeaderValue("X-Mailer", "kelvo");
    EXPECT_EQ(list.last(), "X-Mailer: kelvo");
    list.SetHeaderValue("FROM", "");
    EXPECT_EQ(list, HeaderList({"Subject: new: with colon", "To: b", "X-Mailer: kelvo"}));
    list.SetHeaderValue("Reply-To", ""); // nothing to delete
    EXPECT_EQ(list.size(), 3);
}
