#include "update/FeedAddress.h"

#include <gtest/gtest.h>

namespace {

struct AddressRow {
    const char* text;
    bool accepted;
};

class UpdateAddressPolicy : public ::testing::TestWithParam<AddressRow> {};

TEST_P(UpdateAddressPolicy, AcceptsHttpsAndLoopbackOnly) {
    const UpdateAddress address =
        UpdateAddress::check(QString::fromLatin1(GetParam().text), QStringLiteral("update feed"));
    EXPECT_EQ(!address.error.has_value(), GetParam().accepted) << GetParam().text;
    if (address.error) {
        EXPECT_TRUE(address.error->contains(QLatin1String("update feed")));
    } else {
        EXPECT_TRUE(address.url.isValid());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdateAddressPolicy,
    ::testing::Values(AddressRow{"https://corvinel.app/appcast.xml", true},
                      AddressRow{"http://127.0.0.1:8080/appcast.xml", true},
                      AddressRow{"http://localhost/appcast.xml", true},
                      AddressRow{"http://[::1]:9000/appcast.xml", true},
                      AddressRow{"https://127.0.0.1/appcast.xml", true},
                      AddressRow{"http://corvinel.app/appcast.xml", false},
                      AddressRow{"http://127.0.0.1.example.com/appcast.xml", false},
                      AddressRow{"http://192.168.1.20/appcast.xml", false},
                      AddressRow{"ftp://corvinel.app/appcast.xml", false},
                      AddressRow{"file:///tmp/appcast.xml", false}, AddressRow{"", false}));

} // namespace
