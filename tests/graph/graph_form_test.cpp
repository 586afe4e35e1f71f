#include "graph/graph_form.h"

#include <gtest/gtest.h>

#include "platform/rtl/cp1251.h"

namespace {

using graph::TfGraph;

struct GraphFixture {
    TfGraph* g;
    GraphFixture() : g(new TfGraph(vcl::EnsureApplication())) {}
    ~GraphFixture() { vcl::TComponent::Free(g); }
};

TEST(graph_form, sample_numbers_replace_x_when_the_time_axis_box_is_off) {
    GraphFixture f;
    TfGraph* g = f.g;
    EXPECT_EQ(graph::fGraph, g);
    EXPECT_TRUE(g->cbXATime->Checked());
    EXPECT_FALSE(g->cbSigned->Checked());
    g->cbXATime->SetChecked(false);
    g->AddPoint(45000.5, 7);
    ASSERT_EQ(g->serLine().Count(), 1);
    EXPECT_EQ(g->serLine().Point(0).X, 1);
    for (int i = 0; i < 4; ++i) g->AddPoint(45000.5, i);
    // Ten values under a lock after five plotted points get 6 to 15.
    g->SetUpdateLock(true);
    for (int i = 0; i < 10; ++i) g->AddPoint(45000.5, 100 + i);
    EXPECT_EQ(g->serLine().Count(), 5);
    EXPECT_EQ(g->PendingCount(), 10);
    EXPECT_EQ(g->LastX(), 15);
    EXPECT_EQ(g->PointCount(), 15);
    g->SetUpdateLock(false);
    ASSERT_EQ(g->serLine().Count(), 15);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(g->serLine().Point(i).X, i + 1);
    EXPECT_EQ(g->serLine().Point(14).Y, 109);

    // Time mode: the given stamps, same stamps in arrival order, an earlier
    // stamp at its sorted place.
    g->ClearGraph();
    g->cbXATime->SetChecked(true);
    g->AddPoint(2.0, 1);
    g->AddPoint(2.0, 2);
    g->AddPoint(1.5, 3);
    g->AddPoint(2.0, 4);
    ASSERT_EQ(g->serLine().Count(), 4);
    EXPECT_EQ(g->serLine().Point(0).Y, 3);
    EXPECT_EQ(g->serLine().Point(1).Y, 1);
    EXPECT_EQ(g->serLine().Point(2).Y, 2);
    EXPECT_EQ(g->serLine().Point(3).Y, 4);
    EXPECT_EQ(g->LastX(), 2.0);
}

TEST(graph_form, update_locks_nest_and_only_the_outermost_release_plots_in_one_batch) {
    GraphFixture f;
    TfGraph* g = f.g;
    g->SetUpdateLock(false);  // unmatched: stays at 0, flushes nothing
    EXPECT_EQ(g->UpdateLock(), 0);
    g->SetUpdateLock(true);
    g->SetUpdateLock(true);
    g->AddPoint(1, 1);
    g->AddPoint(2, 2);
    g->SetUpdateLock(false);
    EXPECT_EQ(g->serLine().Count(), 0);
    EXPECT_EQ(g->PendingCount(), 2);
    int batches = g->serLine().Batches();
    g->SetUpdateLock(false);
    EXPECT_EQ(g->serLine().Count(), 2);
    EXPECT_EQ(g->PendingCount(), 0);
    EXPECT_EQ(g->serLine().Batches(), batches + 1);
    EXPECT_EQ(g->UpdateLock(), 0);
    // Without a lock every point is a batch of its own.
    g->AddPoint(3, 3);
    g->AddPoint(4, 4);
    EXPECT_EQ(g->serLine().Batches(), batches + 3);
    EXPECT_EQ(g->StatusText(), rtl::Utf8ToAnsi("Тчк: 4"));
}

TEST(graph_form, clear_empties_the_series_but_keeps_queued_points) {
    GraphFixture f;
    TfGraph* g = f.g;
    EXPECT_EQ(g->Caption(), rtl::Utf8ToAnsi("График"));
    g->AddPoint(1, 1);
    g->SetUpdateLock(true);
    g->AddPoint(2, 2);
    g->ClearGraph();
    EXPECT_EQ(g->serLine().Count(), 0);
    EXPECT_EQ(g->PointCount(), 0);
    EXPECT_EQ(g->LastX(), 0);
    EXPECT_EQ(g->Page(), 1);
    EXPECT_EQ(g->PendingCount(), 1);
    EXPECT_EQ(g->StatusText(), rtl::Utf8ToAnsi("Тчк: 0"));
    EXPECT_EQ(g->Caption(), rtl::Utf8ToAnsi("График"));
    g->SetUpdateLock(false);
    EXPECT_EQ(g->serLine().Count(), 1);
    EXPECT_EQ(g->serLine().Point(0).Y, 2);
    g->bClear->Click();
    EXPECT_EQ(g->serLine().Count(), 0);
}

TEST(graph_form, close_hides_the_window_and_runs_the_one_close_handler) {
    GraphFixture f;
    TfGraph* g = f.g;
    EXPECT_FALSE(g->Visible());
    g->SetVisible(true);
    int closes = 0;
    g->OnClose = [&](vcl::TComponent* s, vcl::TCloseAction&) {
        EXPECT_EQ(s, g);
        ++closes;
    };
    g->Close();
    EXPECT_FALSE(g->Visible());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(graph::fGraph, g);
}

}  // namespace
