// Published properties by name through the per-class tables: fields and
// setters, base classes first, enumerations with their value names, text,
// and the mistakes a table refuses.
#include <gtest/gtest.h>

#include <memory>

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

// Floating-point numbers and objects with tables of their own.
class TPart : public TPersistent {
public:
    int Left = 0;
};

class TWhole : public TPersistent {
public:
    double Angle() const { return angle_; }
    void SetAngle(double a) { angle_ = a; }
    double Percent = 10;
    std::unique_ptr<TPart> part;

private:
    double angle_ = 0;
};

TEST(vcl_properties, floating_point_numbers_and_objects_of_their_own_class) {
    static const bool done = [] {
        RegisterProperties<TPart>().Integer("Left", &TPart::Left, &TPart::Left, 0);
        RegisterProperties<TWhole>()
            .Float("Angle", &TWhole::Angle, &TWhole::SetAngle, 0.0)
            .Float("Percent", &TWhole::Percent, &TWhole::Percent, 10.0)
            .Class("Part", "TPart", [](TWhole& w, bool create) -> TPersistent* {
                if (!w.part && create) w.part = std::make_unique<TPart>();
                return w.part.get();
            });
        return true;
    }();
    (void)done;
    TWhole w;
    const TPropInfo* angle = GetPropInfo(w, "angle");
    ASSERT_NE(angle, nullptr);
    EXPECT_EQ(angle->Kind, TTypeKind::tkFloat);
    EXPECT_EQ(angle->FloatDefault, 0.0);
    SetFloatProp(w, *angle, 33.5);
    EXPECT_EQ(w.Angle(), 33.5);
    EXPECT_EQ(GetFloatProp(w, *GetPropInfo(w, "Percent")), 10.0);
    EXPECT_THROW(GetOrdProp(w, *angle), EPropertyError);
    const TPropInfo* part = GetPropInfo(w, "Part");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->Kind, TTypeKind::tkClass);
    EXPECT_EQ(GetObjectProp(w, *part, false), nullptr);  // not made by a look
    TPersistent* made = GetObjectProp(w, *part, true);
    ASSERT_EQ(made, w.part.get());
    SetOrdProp(*made, *GetPropInfo(*made, "Left"), 7);
    EXPECT_EQ(w.part->Left, 7);
    EXPECT_THROW(GetObjectProp(w, *angle, true), EPropertyError);
}

}  // namespace
