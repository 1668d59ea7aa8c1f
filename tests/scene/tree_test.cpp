#include "stream/chunk.h"
#include "stream/stream.h"
#include "scene/tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vendrake;

namespace {

std::vector<std::string> Log;
int Destroyed = 0;

// Logs its own state change ("+name") and its undo ("-name").
class TLogNode : public TgrTree {
    VENDRAKE_NODE_CLASS(TLogNode, TgrTree)
public:
    TLogNode() = default;
    explicit TLogNode(std::string name, bool autoRestore = true)
    {
        Name = std::move(name);
        AutoRestore = autoRestore;
    }
    ~TLogNode() override { ++Destroyed; }
    void Action() override
    {
        Log.push_back("+" + Name);
        TgrTree::Action();
    }
    void RestoreState() override
    {
        TgrTree::RestoreState();
        Log.push_back("-" + Name);
    }
    bool ReadFromStream(TStream& stream, bool withHeader) override
    {
        if (withHeader)
            SkipChunkHeader(stream);
        ReadNodeHeader(stream);
        return true;
    }
};

class TDerivedLogNode : public TLogNode {
    VENDRAKE_NODE_CLASS(TDerivedLogNode, TLogNode)
public:
    using TLogNode::TLogNode;
};

std::shared_ptr<TLogNode> Node(std::string name, bool autoRestore = true)
{
    return std::make_shared<TLogNode>(std::move(name), autoRestore);
}

std::vector<std::string> Names(const TgrTree& t)
{
    std::vector<std::string> out;
    for (const auto& c : t.Children())
        out.push_back(c->Name);
    return out;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(Tree, ActionAndImmediateRestore)
{
    Log.clear();
    auto leaf = Node("leaf");
    leaf->Action();
    EXPECT_EQ(Log, (Lines{"+leaf", "-leaf"}));

    Log.clear();
    auto quiet = Node("quiet", false);
    quiet->Action();
    EXPECT_EQ(Log, (Lines{"+quiet"}));
}

TEST(Tree, DeferredRestoresRunWhenTheParentRestores)
{
    // Two transforms that leave their state in force: the second mesh is
    // painted with both applied, and both are undone when the parent finishes.
    Log.clear();
    auto root = Node("root");
    auto t1 = root->Add(Node("t1", false));
    t1->AddChild(Node("m1"));
    auto t2 = root->Add(Node("t2", false));
    t2->AddChild(Node("m2"));
    root->Action();
    EXPECT_EQ(Log, (Lines{"+root", "+t1", "+m1", "-m1", "+t2", "+m2", "-m2", "-t1", "-t2", "-root"}));

    // Deferred restores climb: a non-restoring node whose parent does not
    // restore either is undone by the grandparent, after its own
    // non-restoring children, in child order.
    Log.clear();
    auto top = Node("top");
    auto mid = top->Add(Node("mid", false));
    mid->AddChild(Node("a", false));
    mid->AddChild(Node("b", false));
    top->AddChild(Node("after"));
    top->Action();
    EXPECT_EQ(Log, (Lines{"+top", "+mid", "+a", "+b", "+after", "-after", "-a", "-b", "-mid", "-top"}));
}

TEST(Tree, ChildAccess)
{
    auto root = Node("root");
    EXPECT_EQ(root->Count(), 0);
    auto a = Node("a");
    EXPECT_EQ(root->AddChild(a), a);
    root->AddChild(nullptr);
    EXPECT_EQ(root->Count(), 1);
    EXPECT_EQ(root->GetChild(0), a);
    EXPECT_EQ(root->GetChild(1), nullptr);
    EXPECT_EQ(root->GetChild(-1), nullptr);
    EXPECT_TRUE(root->Remove(a.get()));
    EXPECT_FALSE(root->Remove(a.get()));
}

TEST(Tree, ExtractByName)
{
    auto root = Node("root");
    auto first = root->Add(Node("first"));
    first->AddChild(Node("x"));
    auto second = root->Add(Node("second"));
    auto target = second->Add(std::make_shared<TDerivedLogNode>("plane"));
    target->AddChild(Node("kept"));
    auto twin = root->Add(std::make_shared<TDerivedLogNode>("plane"));

    // Not a candidate when the class is not a base of the node's class.
    EXPECT_EQ(root->ExtractByName("plane", TDerivedLogNode::ClassRef())->Name, "plane");
    EXPECT_EQ(second->Count(), 0); // the depth-first first match went, its twin stays
    EXPECT_EQ(root->Count(), 3);
    EXPECT_EQ(target->Count(), 1); // the found node keeps its children

    auto base = root->Add(Node("basic"));
    EXPECT_EQ(root->ExtractByName("basic", TDerivedLogNode::ClassRef()), nullptr);
    EXPECT_EQ(root->ExtractByName("plane", TLogNode::ClassRef()), twin);
    EXPECT_EQ(root->ExtractByName("root", TgrTree::ClassRef()), nullptr); // never itself
    EXPECT_EQ(root->ExtractByName("nothing", TgrTree::ClassRef()), nullptr);
    EXPECT_EQ(Names(*root), (Lines{"first", "second", "basic"}));
}

TEST(Tree, InsertAboveMovesTheWrapToTheEnd)
{
    auto root = Node("root");
    auto c = root->Add(Node("c"));
    root->AddChild(Node("s2"));
    root->AddChild(Node("s3"));
    auto wrap = Node("wrap");
    root->InsertAbove(wrap, "c", TLogNode::ClassRef());
    EXPECT_EQ(Names(*root), (Lines{"s2", "s3", "wrap"}));
    EXPECT_EQ(Names(*wrap), (Lines{"c"}));

    // Only the first match is wrapped, also deep in the tree.
    auto scene = Node("scene");
    auto group = scene->Add(Node("group"));
    group->AddChild(Node("p"));
    group->AddChild(Node("q"));
    scene->AddChild(Node("p"));
    auto w2 = Node("w2");
    scene->InsertAbove(w2, "p", TLogNode::ClassRef());
    EXPECT_EQ(Names(*group), (Lines{"q", "w2"}));
    EXPECT_EQ(Names(*scene), (Lines{"group", "p"}));
    EXPECT_EQ(w2->Count(), 1);

    scene->InsertAbove(Node("w3"), "none", TLogNode::ClassRef());
    EXPECT_EQ(Names(*scene), (Lines{"group", "p"}));
}

TEST(Tree, SharedNodesAreFreedOnce)
{
    Destroyed = 0;
    {
        auto bucket = Node("bucket");
        {
            auto scene = Node("scene");
            auto shared = Node("shared");
            shared->AddChild(Node("leaf"));
            bucket->AddChild(shared);
            scene->AddChild(shared);
            scene->Add(Node("viewport"))->AddChild(shared); // attached twice in one tree
        }
        EXPECT_EQ(Destroyed, 2); // scene and viewport; shared still lives in bucket
    }
    EXPECT_EQ(Destroyed, 5);

    // A chain far deeper than the stack could unwind recursively.
    Destroyed = 0;
    {
        auto root = Node("root");
        TgrTree* tip = root.get();
        for (int i = 0; i < 300000; ++i)
            tip = tip->AddChild(Node("n")).get();
    }
    EXPECT_EQ(Destroyed, 300001);
}

TEST(Tree, NodeHeader)
{
    TMemoryStream s;
    s.WriteInt32(7);
    s.WriteInt32(3);
    s.WriteInt32(99);
    s.WriteInt32(0);
    s.WriteInt32(0x12345678); // payload continues right after an empty name
    s.Seek(0);
    TLogNode n;
    n.Name = "old";
    n.ReadNodeHeader(s);
    EXPECT_EQ(n.Id, 7);
    EXPECT_EQ(n.ParentId, 3);
    EXPECT_EQ(n.Reserved, 99);
    EXPECT_EQ(n.Name, "");
    EXPECT_EQ(s.ReadInt32(), 0x12345678);

    // A zero byte ends the name; all N bytes are consumed.
    TMemoryStream z;
    for (int v : {1, 0, 0, 6})
        z.WriteInt32(v);
    z.WriteBuffer("Box\0zz", 6);
    z.WriteInt32(42);
    z.Seek(0);
    n.ReadNodeHeader(z);
    EXPECT_EQ(n.Name, "Box");
    EXPECT_EQ(z.ReadInt32(), 42);
}

TEST(Tree, BadNameLengthsRaiseBeforeAllocating)
{
    for (std::int32_t bad : {-1, 5, 0x7FFFFFFF}) {
        TMemoryStream s;
        for (int v : {1, 0, 0})
            s.WriteInt32(v);
        s.WriteInt32(bad);
        s.WriteBuffer("abcd", 4);
        s.Seek(0);
        TLogNode n;
        try {
            n.ReadNodeHeader(s);
            FAIL() << bad;
        } catch (const EReadError& e) {
            EXPECT_EQ(std::string(e.what()), "Stream read error in memory at byte offset 12: node name length " +
                                                 std::to_string(bad) + " with 4 bytes left");
        }
    }
}

TEST(Tree, PayloadReadingWithAndWithoutHeader)
{
    TMemoryStream s;
    TMasterChuncer w(&s);
    w.BeginChunk(ChunkGroupKey, 0x43414D52, 0);
    for (int v : {5, 1, 0, 3})
        s.WriteInt32(v);
    s.WriteBuffer("Cam", 3);
    w.EndChunk();
    s.Seek(0);
    TLogNode n;
    EXPECT_TRUE(n.ReadFromStream(s, true));
    EXPECT_EQ(n.Name, "Cam");
    EXPECT_EQ(n.Id, 5);

    TgrTree plain;
    s.Seek(20);
    EXPECT_THROW(plain.ReadFromStream(s, false), EAbstractError);
    EXPECT_FALSE(plain.WriteToStream(s, true));
    EXPECT_THROW(plain.LoadFromFile("/nonexistent/scene.y3d", false), EFOpenError);
}

TEST(Tree, ClassReferences)
{
    const TNodeClass& derived = TDerivedLogNode::ClassRef();
    EXPECT_EQ(derived.Name(), "TDerivedLogNode");
    EXPECT_TRUE(derived.InheritsFrom(TLogNode::ClassRef()));
    EXPECT_TRUE(derived.InheritsFrom(TgrTree::ClassRef()));
    EXPECT_FALSE(TLogNode::ClassRef().InheritsFrom(derived));
    TgrTreePtr made = derived.Create();
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->Is<TDerivedLogNode>());
    EXPECT_TRUE(made->Is<TLogNode>());
    EXPECT_EQ(&made->NodeClass(), &derived);
    EXPECT_TRUE(TgrTree::ClassRef().Create()->AutoRestore);
}
