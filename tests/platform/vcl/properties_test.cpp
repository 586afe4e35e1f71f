// Published properties by name through the per-class tables: fields and
// setters, base classes first, enumerations with their value names, text,
// and the mistakes a table refuses.
#include <gtest/gtest.h>

#include "platform/vcl/properties.h"

namespace {

using namespace vcl;

enum class TDirection { dLeft, dRight, dUpDown };
const TEnumTypeInfo kDirection{"TDirection", {"dLeft", "dRight", "dUpDown"}};

class TBase : public TPersistent {
public:
    int Amount = 5;
    bool Smooth = false;
};

class TDerived : public TBase {
public:
    TDirection Direction() const { return direction_; }
    void SetDirection(TDirection d) {
        direction_ = d;
        ++changes;
    }
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& c) { caption_ = c; }
    int changes = 0;

private:
    TDirection direction_ = TDirection::dRight;
    std::string caption_;
};

class TUnlisted : public TBase {};
class TOrphan : public TUnlisted {};

void Register() {
    static const bool done = [] {
        RegisterProperties<TBase>()
            .Integer("Amount", &TBase::Amount, &TBase::Amount, 5)
            .Boolean("Smooth", &TBase::Smooth, &TBase::Smooth, false);
        RegisterProperties<TDerived, TBase>()
            .Enum("Direction", kDirection, &TDerived::Direction, &TDerived::SetDirection)
            .String("Caption", &TDerived::Caption, &TDerived::SetCaption);
        return true;
    }();
    (void)done;
}

TEST(vcl_properties, are_found_by_name_through_the_class_and_its_bases_and_read_and_written) {
    Register();
    TDerived d;
    const TPropertyTable* table = PropertyTableOf(d);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->ClassName(), "TDerived");
    std::vector<std::string> names;
    for (const TPropInfo* p : table->All()) names.push_back(p->Name);
    EXPECT_EQ(names, (std::vector<std::string>{"Amount", "Smooth", "Direction", "Caption"}));

    const TPropInfo* amount = GetPropInfo(d, "AMOUNT");  // a base class's, any case
    ASSERT_NE(amount, nullptr);
    EXPECT_EQ(amount->Kind, TTypeKind::tkInteger);
    EXPECT_EQ(amount->Default, 5);
    SetOrdProp(d, *amount, 42);
    EXPECT_EQ(d.Amount, 42);
    EXPECT_EQ(GetOrdProp(d, *amount), 42);

    const TPropInfo* smooth = GetPropInfo(d, "Smooth");
    EXPECT_EQ(smooth->EnumType, &BooleanTypeInfo());
    SetOrdProp(d, *smooth, 1);
    EXPECT_TRUE(d.Smooth);

    const TPropInfo* direction = GetPropInfo(d, "Direction");
    EXPECT_EQ(direction->TypeName, "TDirection");
    EXPECT_EQ(GetOrdProp(d, *direction), 1);
    SetOrdProp(d, *direction, 2);  // through the setter
    EXPECT_EQ(d.Direction(), TDirection::dUpDown);
    EXPECT_EQ(d.changes, 1);
    EXPECT_EQ(GetEnumName(*direction->EnumType, 2), "dUpDown");
    EXPECT_EQ(GetEnumName(*direction->EnumType, 3), "");

    const TPropInfo* caption = GetPropInfo(d, "Caption");
    SetStrProp(d, *caption, "Blur");
    EXPECT_EQ(GetStrProp(d, *caption), "Blur");
    EXPECT_THROW(GetOrdProp(d, *caption), EPropertyError);
    EXPECT_THROW(SetStrProp(d, *amount, "1"), EPropertyError);

    // Only what a class publishes: none for a name it lacks, and none for a
    // class that registered no table of its own.
    EXPECT_EQ(GetPropInfo(d, "Amuont"), nullptr);
    TBase b;
    EXPECT_EQ(GetPropInfo(b, "Direction"), nullptr);
    TUnlisted u;
    EXPECT_EQ(PropertyTableOf(u), nullptr);
    // A table whose base has none, and a property given twice, are refused.
    EXPECT_THROW((RegisterProperties<TOrphan, TUnlisted>()), EPropertyError);
    EXPECT_THROW(RegisterProperties<TBase>().Integer("amount", &TBase::Amount, &TBase::Amount), EPropertyError);
}

}  // namespace
