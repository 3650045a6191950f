#include "server/identity.h"

#include <gtest/gtest.h>

TEST(IdentityProof, IsHmacSha256InLowerCaseHex) {
  // RFC 4231, test case 2.
  EXPECT_EQ(identity_proof("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(RandomHex, IsFreshLowerCaseHexOfTheAskedLength) {
  const QByteArray first = random_hex(32), second = random_hex(32);
  EXPECT_EQ(first.size(), 64);
  EXPECT_NE(first, second);
  EXPECT_EQ(first.toLower(), first);
  EXPECT_EQ(QByteArray::fromHex(first).toHex(), first);
}
