#pragma once
// Class references for scene nodes: a value that names a node class, creates
// a node of it, and tells whether a node is of that class or derived from it.
// The loader's registration table holds them; tree searches take them.
#include <memory>
#include <string_view>
#include <type_traits>

namespace vendrake {

class TgrTree;

class TNodeClass {
public:
    using TFactory = std::shared_ptr<TgrTree> (*)();

    constexpr TNodeClass(std::string_view name, const TNodeClass* parent, TFactory factory)
        : FName(name), FParent(parent), FFactory(factory)
    {
    }
    TNodeClass(const TNodeClass&) = delete;
    TNodeClass& operator=(const TNodeClass&) = delete;

    std::string_view Name() const { return FName; }
    const TNodeClass* Parent() const { return FParent; }
    // A fresh node of this class (the virtual constructor), or none for a
    // class that cannot be instantiated.
    std::shared_ptr<TgrTree> Create() const { return FFactory ? FFactory() : nullptr; }
    // True for this class and every class derived from `base`.
    bool InheritsFrom(const TNodeClass& base) const;

private:
    std::string_view FName;
    const TNodeClass* FParent;
    TFactory FFactory;
};

template <class T> std::shared_ptr<TgrTree> MakeNodeOf()
{
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
        return std::make_shared<T>();
    else
        return nullptr;
}

} // namespace vendrake

// Declares the class reference of a node class. Put it in the public section
// of every class derived from TgrTree:
//     class TgrPRS : public TgrMatrixEdit {
//         VENDRAKE_NODE_CLASS(TgrPRS, TgrMatrixEdit)
//     public: ...
#define VENDRAKE_NODE_CLASS(Class, Base)                                                          \
public:                                                                                           \
    static const ::vendrake::TNodeClass& ClassRef()                                               \
    {                                                                                             \
        static const ::vendrake::TNodeClass ref(#Class, &Base::ClassRef(),                        \
                                                &::vendrake::MakeNodeOf<Class>);                  \
        return ref;                                                                               \
    }                                                                                             \
    const ::vendrake::TNodeClass& NodeClass() const override { return ClassRef(); }
