#include <gtest/gtest.h>

#include "logging/FunctionName.h"

TEST(FunctionNameTest, KeepsOnlyTheQualifiedName) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"bool KaCTransformationNodeManager::Lock(const std::vector<int>&, int)",
         "KaCTransformationNodeManager::Lock"},
        {"void f()", "f"},
        {"Ns::CClass::CClass(int)", "Ns::CClass::CClass"},
        {"const char* Ns::CClass::Get() const &&", "Ns::CClass::Get"},
        {"int A::B::f(T) const [with T = int; U = std::pair<int, int>]", "A::B::f"},
        {"int A::B::f(T) const [T = int [3]]", "A::B::f"},
        {"std::vector<int, std::allocator<int> > Ns::C::Values(std::map<int, int>)",
         "Ns::C::Values"},
        {"std::function<void (int)> Ns::C::Callback()", "Ns::C::Callback"},
        {"bool Ns::C::operator<(const Ns::C&) const", "Ns::C::operator<"},
        {"bool Ns::C::operator>(const Ns::C&) const", "Ns::C::operator>"},
        {"int Ns::C::operator()(int)", "Ns::C::operator()"},
        {"Ns::C::operator bool() const", "Ns::C::operator bool"},
        {"void {anonymous}::helper(int)", "{anonymous}::helper"},
        {"void (anonymous namespace)::helper(int)", "(anonymous namespace)::helper"},
        {"Ns::F()::<lambda(int)>", "Ns::F()::<lambda(int)>"},
        {"auto Ns::F()::(anonymous class)::operator()() const",
         "Ns::F()::(anonymous class)::operator()"},
    };
    for (const auto& [signature, name] : cases) {
        EXPECT_EQ(Logging::GetQualifiedFunctionName(signature), name) << signature;
    }
}
