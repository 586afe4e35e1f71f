// Free notification between components: asked for by one side, heard by
// both; removed by one side, gone for both, so that neither is told about
// (or holds) the other after it has gone.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/component.h"

namespace {

struct Listener : vcl::TComponent {
    Listener(std::vector<std::string>& Log, const std::string& Id) : vcl::TComponent(nullptr), log(Log) { Name = Id; }
    std::vector<std::string>& log;
    void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override {
        vcl::TComponent::Notification(AComponent, Operation);
        // Only the component part of a component that goes is left.
        if (Operation == vcl::TOperation::opRemove) log.push_back(Name + " heard " + AComponent->Name);
    }
};

TEST(component, free_notification_is_one_link_for_both_sides_whichever_side_removes_it) {
    std::vector<std::string> log;
    {
        auto* a = new Listener(log, "a");
        auto* b = new Listener(log, "b");
        a->FreeNotification(b);
        vcl::TComponent::Free(a);
        EXPECT_EQ(log, (std::vector<std::string>{"b heard a"}));
        vcl::TComponent::Free(b);
        EXPECT_EQ(log.size(), 1u);
    }
    // Removed by the side that asked, or by the other: neither is told.
    for (bool byAsker : {true, false}) {
        log.clear();
        auto* a = new Listener(log, "a");
        auto* b = new Listener(log, "b");
        a->FreeNotification(b);
        if (byAsker)
            a->RemoveFreeNotification(b);
        else
            b->RemoveFreeNotification(a);
        // Either order of freeing: nothing dangles (the sanitizer would see
        // the freed one touched) and nothing is heard.
        vcl::TComponent::Free(byAsker ? a : b);
        vcl::TComponent::Free(byAsker ? b : a);
        EXPECT_TRUE(log.empty());
    }
}

}  // namespace
