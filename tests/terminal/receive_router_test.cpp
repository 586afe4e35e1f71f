// Where received pieces go, decided without a window: the router is wired to
// a list of what was shown, real output files and a plug-in whose receive
// event the test plays, pumped as the window's posted message would be.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "support/fifo_reader.h"
#include "support/file_contents.h"
#include "support/qt_app.h"
#include "support/temp_dir.h"
#include "terminal/receive_router.h"

namespace {

using terminal::TListFileType;
using terminal::TListOutput;
using terminal::TReceivedPiece;
using terminal::TReceiveRouter;
using terminal::TReceiveSource;

const TReceiveSource kMain{.IsMain = true};
const TReceiveSource kPort2{.IsMain = false};

struct Wiring {
    test_support::TempDir dir;
    terminal::TReceiveQueue queue;
    std::vector<std::string> list;   // what the list shows, "M:" or "P:" and the bytes
    std::vector<std::string> events; // the chunks the receive event was given
    bool declared[2] = {false, false};
    bool busy = false;
    // What the plug-in does inside its receive event.
    std::function<void(bool IsMain, std::string& Data)> during;
    bool posted = false;
    double clock = 0;
    std::size_t bound = 4096;  // every port's input buffer
    TReceiveRouter router{queue, Hooks()};

    terminal::TReceiveRouterHooks Hooks() {
        terminal::TReceiveRouterHooks h;
        h.EventDeclared = [this](bool IsMain) { return declared[IsMain]; };
        h.PluginBusy = [this] { return busy; };
        h.RunEvent = [this](const TReceivedPiece& First, std::string& Data) {
            busy = true;
            events.push_back(Data);
            if (during) during(First.Source.IsMain, Data);
            busy = false;
        };
        h.Bound = [this](const TReceiveSource&) { return bound; };
        h.RoomChanged = [](const TReceiveSource&) {};
        h.ShowLine = [this](terminal::TListOutput*, const terminal::TReceivedPiece& Piece) {
            list.push_back("L:" + Piece.Bytes);
        };
        // Each piece goes where the router says: the file given, or the list.
        h.ShowData = [this](TListOutput* To, const TReceivedPiece& Piece) {
            if (!To) {
                list.push_back((Piece.Source.IsMain ? "M:" : "P:") + Piece.Bytes);
                return;
            }
            // Kept until the file has taken it, as the window keeps it.
            const std::uint64_t start = To->Given();
            To->Write(Piece.Bytes);
            To->KeepUntilWritten({static_cast<std::uint8_t>(Piece.Source.IsMain ? 0 : 1), Piece.Bytes, Piece.Time,
                                  Piece.NameKey, Piece.NameLine, false, false, {}},
                                 start);
        };
        h.Gone = [this](const TReceivedPiece& Piece) { list.push_back(Piece.Source.IsMain ? "M." : "P."); };
        h.OutputFailed = [this](TListOutput& File, bool, std::vector<terminal::TUnwrittenChunk> Rest) {
            list.push_back("F:" + File.Failure());
            for (const auto& c : Rest) list.push_back((c.Dir == 0 ? "M:" : "P:") + c.Bytes);
        };
        h.PostPump = [this] { posted = true; };
        return h;
    }
    // The port reads Bytes.
    void Read(const TReceiveSource& Source, const std::string& Bytes) {
        TReceivedPiece p;
        p.Source = Source;
        p.Bytes = Bytes;
        p.Time = ++clock;
        router.Add(std::move(p));
    }
    // The message loop's turns until no pump is asked for.
    void Loop() {
        while (posted) {
            posted = false;
            router.Pump();
        }
    }
    void SwitchOn(const std::string& Name) { router.OpenOutput(dir.File(Name), TListFileType::Binary); }
    bool On() const { return router.On() != nullptr; }
    bool Waiting(const std::string& Name) { return router.WaitingFile(dir.File(Name)) != nullptr; }
};

using List = std::vector<std::string>;

TEST(receive_router, pieces_go_in_the_order_read_and_a_ports_event_holds_only_its_own_stream) {
    Wiring w;
    // No event: every stream's pieces in the order they were read.
    w.Read(kMain, "a");
    w.Read(kPort2, "x");
    w.Read(kMain, "b");
    w.Read(kPort2, "y");
    w.Loop();
    EXPECT_EQ(w.list, (List{"M:a", "P:x", "M:b", "P:y"}));

    // The main port's event waits; what its port reads meanwhile waits for
    // it and becomes its next chunk; Port2 goes on, also from a pump inside
    // the event (a wait of the plug-in lets the loop run).
    w.list.clear();
    w.declared[1] = true;
    w.during = [&](bool, std::string& Data) {
        if (Data != "W") return;
        w.Read(kMain, "c");
        w.Read(kPort2, "z");
        w.Read(kMain, "d");
        w.Loop();
        EXPECT_EQ(w.list, (List{"P:z"}));
    };
    w.Read(kMain, "W");
    w.Loop();
    EXPECT_EQ(w.events, (List{"W", "cd"}));
    // Unchanged, the chunk shows piece by piece, after the event's own.
    EXPECT_EQ(w.list, (List{"P:z", "M:W", "M:c", "M:d"}));
    EXPECT_TRUE(w.queue.Empty());

    // An event that changes its chunk shows what it left, once.
    w.list.clear();
    w.during = [](bool, std::string& Data) { Data = "<" + Data + ">"; };
    w.Read(kMain, "e");
    w.Loop();
    EXPECT_EQ(w.list, (List{"M:<e>"}));
}

TEST(receive_router, a_port_whose_event_is_declared_waits_for_it_while_any_event_runs) {
    Wiring w;
    w.declared[0] = w.declared[1] = true;
    // Port2's chunks wait while the main port's event does, and come to
    // Port2's event as one chunk once it is over.
    w.during = [&](bool, std::string& Data) {
        if (Data != "W") return;
        w.Read(kPort2, "p1");
        w.Read(kMain, "m");
        w.Read(kPort2, "p2");
        w.Loop();
        EXPECT_EQ(w.list, List{});
    };
    w.Read(kMain, "W");
    w.Loop();
    EXPECT_EQ(w.events, (List{"W", "p1p2", "m"}));
    EXPECT_EQ(w.list, (List{"M:W", "P:p1", "P:p2", "M:m"}));

    // The same while the load event runs; what its Recv takes goes on at
    // once, the rest waits for the receive event.
    w.list.clear();
    w.events.clear();
    w.busy = true;
    w.Read(kMain, "abc");
    w.Loop();
    std::string taken;
    EXPECT_EQ(w.router.Take(kMain, 2, taken), 2u);
    w.Loop();
    EXPECT_EQ(taken, "ab");
    EXPECT_EQ(w.list, (List{"M:ab"}));
    w.busy = false;
    w.router.PluginIdle();
    w.Loop();
    EXPECT_EQ(w.events, (List{"c"}));
    EXPECT_EQ(w.list, (List{"M:ab", "M:c"}));

    // A port without a declared event goes on at once meanwhile.
    w.list.clear();
    w.declared[0] = false;
    w.busy = true;
    w.Read(kPort2, "q");
    w.Loop();
    EXPECT_EQ(w.list, (List{"P:q"}));
}

TEST(receive_router, what_an_event_takes_waits_behind_its_chunk_until_it_reaches_the_bound_then_goes_at_once) {
    Wiring w;
    w.bound = 200;
    w.declared[1] = true;
    const std::string a(70, 'a'), b(10, 'b');
    std::vector<List> shown;
    w.during = [&](bool, std::string& Data) {
        if (Data != "W") return;
        std::string s;
        w.Read(kMain, a);
        w.router.Take(kMain, 0, s);
        shown.push_back(w.list);
        // Past the bound: all that was taken goes, and what is taken after.
        w.Read(kMain, b);
        w.router.Take(kMain, 0, s);
        shown.push_back(w.list);
        w.Read(kMain, "c");
        w.router.Take(kMain, 0, s);
        shown.push_back(w.list);
    };
    w.Read(kMain, "W");
    w.Loop();
    EXPECT_EQ(shown, (std::vector<List>{{}, {"M:" + a, "M:" + b}, {"M:" + a, "M:" + b, "M:c"}}));
    EXPECT_EQ(w.list, (List{"M:" + a, "M:" + b, "M:c", "M:W"}));

    // The next event starts with its chunk's place kept again.
    w.list.clear();
    w.during = [&](bool, std::string& Data) {
        if (Data != "V") return;
        std::string s;
        w.Read(kMain, "d");
        w.router.Take(kMain, 0, s);
    };
    w.Read(kMain, "V");
    w.Loop();
    EXPECT_EQ(w.list, (List{"M:V", "M:d"}));
}

TEST(receive_router, every_file_switched_off_in_an_event_gets_what_was_read_for_it_through_clears) {
    Wiring w;
    w.declared[1] = true;
    const std::string a = w.dir.File("a.bin"), b = w.dir.File("b.bin");
    w.SwitchOn("a.bin");
    w.during = [&](bool, std::string& Data) {
        if (Data != "S") return;
        w.Read(kMain, "m1");
        w.Read(kPort2, "p1");
        w.Loop();
        w.router.OutputSwitchedOff();
        EXPECT_FALSE(w.On());
        EXPECT_TRUE(w.Waiting("a.bin"));
        // A Clear empties the list, not a file switched off; switching
        // another file on clears too.
        w.router.MarkCleared();
        w.SwitchOn("b.bin");
        w.router.MarkCleared();
        w.Read(kMain, "m2");
        w.Read(kPort2, "p2");
        w.Loop();
        w.router.OutputSwitchedOff();
        w.Read(kMain, "m3");
        w.Read(kPort2, "p3");
        w.Loop();
    };
    w.Read(kMain, "S");
    w.Loop();
    EXPECT_EQ(test_support::Slurp(a), "p1Sm1");
    EXPECT_EQ(test_support::Slurp(b), "p2m2");
    EXPECT_EQ(w.list, (List{"P:p3", "M:m3"}));
    EXPECT_FALSE(w.Waiting("a.bin") || w.Waiting("b.bin")) << "a file switched off was kept open";

    // Output on again into a file that still waits: it is written on, after
    // what it holds, and what waited for it is the output's that is on.
    w.list.clear();
    const std::string c = w.dir.File("c.bin");
    w.SwitchOn("c.bin");
    w.during = [&](bool, std::string& Data) {
        if (Data != "S") return;
        w.Read(kMain, "m4");
        w.Read(kPort2, "p4");
        w.Loop();
        w.router.OutputSwitchedOff();
        const TListOutput* waiting = w.router.WaitingFile(c);
        ASSERT_NE(waiting, nullptr);
        w.router.MarkCleared();
        w.router.Resume(*waiting);
        EXPECT_TRUE(w.On());
        EXPECT_FALSE(w.Waiting("c.bin"));
        w.Read(kMain, "m5");
        w.Read(kPort2, "p5");
        w.Loop();
    };
    w.Read(kMain, "S");
    w.Loop();
    w.router.OutputSwitchedOff();
    EXPECT_FALSE(w.Waiting("c.bin"));
    EXPECT_EQ(test_support::Slurp(c), "p4p5Sm4m5");

    // Without a wait, a Clear leaves nothing read before it to show.
    w.during = nullptr;
    w.declared[1] = false;
    w.Read(kMain, "old");
    w.router.MarkCleared();
    w.Read(kMain, "new");
    w.Loop();
    EXPECT_EQ(w.list, (List{"M:new"}));
}

TEST(receive_router, a_close_during_an_event_hands_everything_on_once_in_order_without_events) {
    Wiring w;
    w.declared[0] = w.declared[1] = true;
    w.during = [&](bool, std::string& Data) {
        if (Data != "W") return;
        w.Read(kMain, "b");
        w.Read(kPort2, "x");
        w.Read(kMain, "c");
        w.router.HandOnEverything();
    };
    w.Read(kMain, "W");
    w.Loop();
    // The event's own chunk first, then the rest as it came, each once.
    EXPECT_EQ(w.list, (List{"M:W", "M:b", "P:x", "M:c"}));
    EXPECT_EQ(w.events, (List{"W"}));
    // From now on nothing waits and no event runs.
    w.Read(kMain, "d");
    w.Read(kPort2, "y");
    w.Loop();
    EXPECT_EQ(w.list, (List{"M:W", "M:b", "P:x", "M:c", "M:d", "P:y"}));
    EXPECT_EQ(w.events, (List{"W"}));
}

// A line or an end about the foreign port as a whole (its socket closed, the
// port's own end) comes after whatever any of its clients sent before it
// and still waits: for the client's receive event, or for a Recv of the load
// event. Client 0 (a server's client past index 255) is a client as much
// as 1 (the main port's) or any of Port2's.
TEST(receive_router, a_line_or_an_end_about_the_whole_port_comes_after_what_any_client_sent_before_it) {
    const TReceiveSource port{.IsMain = true, .Client = TReceiveSource::PortWide};
    for (const int client : {0, 1, 2, 255})
        for (const bool recv : {false, true})
            for (const bool gone : {false, true}) {
                SCOPED_TRACE("client " + std::to_string(client) + (recv ? ", a Recv" : ", its event") +
                             (gone ? ", the port's end" : ", a line about the port"));
                Wiring w;
                const TReceiveSource source{.IsMain = client == 1, .Client = client};
                const std::string tag = client == 1 ? "M:" : "P:";
                const std::string whole = gone ? "M." : "L:closed";
                List inside;
                // The client's data waits; the line or end about the port
                // comes meanwhile, and the loop turns.
                const auto meanwhile = [&] {
                    w.Read(source, "d");
                    if (gone) {
                        TReceivedPiece end;
                        end.Kind = TReceivedPiece::TKind::Gone;
                        end.Source = port;
                        end.Time = ++w.clock;
                        w.router.Add(std::move(end));
                    } else {
                        w.router.AddLine(0, "closed", port, ++w.clock);
                    }
                    w.Loop();
                    inside = w.list;
                };
                if (recv) {
                    w.busy = true;  // the load event runs, and waits in Recv
                    {
                        const TReceiveRouter::TRecvScope waiting(w.router, source);
                        meanwhile();
                    }
                    w.busy = false;
                    w.router.PluginIdle();
                    w.Loop();
                    EXPECT_EQ(inside, List{});
                    EXPECT_EQ(w.list, (List{tag + "d", whole}));
                } else {
                    w.declared[client == 1] = true;
                    w.during = [&](bool, std::string& Data) {
                        if (Data == "W") meanwhile();
                    };
                    w.Read(source, "W");
                    w.Loop();
                    EXPECT_EQ(inside, List{});
                    EXPECT_EQ(w.list, (List{tag + "W", tag + "d", whole}));
                }
                EXPECT_TRUE(w.queue.Empty());
            }
}

// A pipe that has not taken what it was given holds the pieces for it
// back; switched off then, the file stays open until the pipe has taken it
// all, while what is read from then on goes to the list.
TEST(receive_router, a_pipe_that_has_not_taken_its_output_holds_its_pieces_and_outlives_its_switch_off) {
    test_support::EnsureQtApplication();
    Wiring w;
    const std::string fifo = w.dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    test_support::FifoReader reader(fifo);
    ASSERT_TRUE(reader.SetCapacity(4096));
    w.router.OpenOutput(fifo, TListFileType::Binary);
    const std::string big(6000, 'a');
    w.Read(kMain, big);
    w.Read(kPort2, "c");
    w.Loop();
    ASSERT_TRUE(w.router.On()->HasBacklog());
    EXPECT_FALSE(w.queue.Empty()) << "the piece behind the backlog was not held";
    std::string got = reader.Take();
    ASSERT_TRUE(test_support::PumpUntil([&] {
        w.Loop();
        got += reader.Take();
        return w.queue.Empty() && !w.router.On()->HasBacklog();
    }));
    // Once more, and switched off at once.
    w.Read(kMain, big);
    w.Loop();
    ASSERT_TRUE(w.router.On()->HasBacklog());
    w.router.OutputSwitchedOff();
    w.Read(kMain, "d");
    w.Loop();
    EXPECT_EQ(w.list, (List{"M:d"}));
    EXPECT_TRUE(test_support::PumpUntil([&] {
        w.Loop();
        got += reader.Take();
        return !w.Waiting("pipe");
    })) << "the file switched off was never closed";
    EXPECT_TRUE(got == big + "c" + big) << got.size() << " bytes";
}

// A pipe that failed from the loop (its reader took nothing for the stall
// limit) is a file of its own until the pump settles it: output switched on
// into a new file meanwhile gets only what is read from then on, the failed
// one's rest and what was read for it go to the list under its failure, and
// a close at that moment shows them too.
TEST(receive_router, a_file_that_failed_from_the_loop_stays_its_own_until_the_pump_settles_it) {
    test_support::EnsureQtApplication();
    setenv("VOSTREL_TEST_WRITE_STALL_MS", "100", 1);
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "closed before the pump" : "output on into a new file before the pump");
        Wiring w;
        const std::string fifo = w.dir.File("pipe");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        test_support::FifoReader reader(fifo);  // never takes
        ASSERT_TRUE(reader.SetCapacity(4096));
        w.router.OpenOutput(fifo, TListFileType::Binary);
        const std::string big(6000, 'a');
        w.Read(kMain, big);
        w.Loop();
        w.Read(kMain, "b1");
        w.Loop();
        ASSERT_TRUE(w.router.On() && w.router.On()->HasBacklog());
        // The loop runs, the pump does not: the pipe fails from the loop.
        ASSERT_TRUE(test_support::PumpUntil([&] { return w.router.On() == nullptr; }));
        ASSERT_TRUE(w.posted) << "the failed output asked for no pump";
        if (close) {
            w.router.HandOnEverything();
        } else {
            w.SwitchOn("new.bin");
            ASSERT_TRUE(w.On());
            w.Read(kMain, "c1");
            w.Loop();
            w.router.OutputSwitchedOff();
            EXPECT_EQ(test_support::Slurp(w.dir.File("new.bin")), "c1") << "the new file got the failed one's pieces";
        }
        ASSERT_EQ(w.list.size(), 3u) << ::testing::PrintToString(w.list);
        EXPECT_EQ(w.list[0], "F:Cannot write \"" + fifo + "\": the program or device reading it stopped taking data");
        EXPECT_EQ(w.list[1], "M:" + big.substr(4096));
        EXPECT_EQ(w.list[2], "M:b1");
        EXPECT_FALSE(w.Waiting("pipe"));
    }
    unsetenv("VOSTREL_TEST_WRITE_STALL_MS");
}

}  // namespace
