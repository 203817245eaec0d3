// Activation of the filter server through the real loader and registry.
#include <gtest/gtest.h>

#include "qzhost/loader/module.h"
#include "qzhost/services/registry.h"

using qzhost::LoadedModule;
using qzhost::ServiceRegistry;

namespace {

class FilterActivation : public ::testing::Test {
protected:
    FilterActivation() : module_(VORLUX_MODULE_FILE), installation_(registry_) {
        for (size_t i = 0; i < services_.size(); ++i) registry_.offer(services_[i], tables_[i]);
        record_ = {&instanceOps_, &item_, &renderOps_, nullptr, nullptr};
    }

    int activate(int version) {
        const auto &server = module_.server(HOST_FILTER_CLASS, "Vorlux");
        return server.activate(version, ServiceRegistry::global(), &record_, nullptr);
    }

    LoadedModule module_;
    ServiceRegistry registry_;
    ServiceRegistry::Installation installation_;
    ItemInfoService itemInfo_{};
    EnvelopeService envelopes_{};
    ChannelInfoService channelInfo_{};
    ParamService params_{};
    InstanceOps instanceOps_{};
    RenderOps renderOps_{};
    int item_ = 0;
    HandlerRecord record_{};
    // The services the filter looks up, in the order it looks them up, and the tables offered for them.
    const std::vector<std::string> services_{HOST_ITEM_INFO, HOST_ENVELOPES, HOST_CHANNEL_INFO, HOST_PARAMS};
    const void *tables_[4] = {&itemInfo_, &envelopes_, &channelInfo_, &params_};
};

}  // namespace

TEST(ModuleDescriptor, OffersExactlyTheTwoVorluxServers) {
    LoadedModule module(VORLUX_MODULE_FILE);
    std::vector<std::pair<std::string, std::string>> servers;
    for (const auto &server : module.servers()) servers.emplace_back(server.className, server.name);
    EXPECT_EQ(servers, (decltype(servers){{HOST_FILTER_CLASS, "Vorlux"}, {HOST_INTERFACE_CLASS, "Vorlux"}}));
}

TEST_F(FilterActivation, WrongVersionAnswersOneWithoutAnyLookup) {
    EXPECT_EQ(activate(3), 1);
    EXPECT_EQ(activate(5), 1);
    InterfaceRecord panel{nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(module_.server(HOST_INTERFACE_CLASS, "Vorlux").activate(5, ServiceRegistry::global(), &panel, nullptr), 1);
    EXPECT_TRUE(registry_.lookups().empty());
    EXPECT_EQ(instanceOps_.create, nullptr);
}

TEST_F(FilterActivation, AnyMissingServiceAnswersTwoAfterAllFourLookups) {
    for (size_t missing = 0; missing < services_.size(); ++missing) {
        ServiceRegistry registry;
        for (size_t i = 0; i < services_.size(); ++i) {
            if (i != missing) registry.offer(services_[i], tables_[i]);
        }
        ServiceRegistry::Installation installed(registry);
        EXPECT_EQ(activate(4), 2) << services_[missing];
        EXPECT_EQ(registry.lookups(), services_);
        EXPECT_EQ(instanceOps_.create, nullptr) << "tables stay unfilled";
        EXPECT_EQ(record_.evaluate, nullptr);
    }
}

TEST_F(FilterActivation, FullRegistryFillsEveryTable) {
    ASSERT_EQ(activate(4), 0);
    EXPECT_EQ(instanceOps_.priv, reinterpret_cast<void *>(ServiceRegistry::global()));
    for (const void *slot : {(void *)instanceOps_.create, (void *)instanceOps_.destroy, (void *)instanceOps_.copy,
                             (void *)instanceOps_.load, (void *)instanceOps_.save, (void *)instanceOps_.describe,
                             (void *)renderOps_.init, (void *)renderOps_.cleanup, (void *)renderOps_.newTime,
                             (void *)record_.evaluate, (void *)record_.flags}) {
        EXPECT_NE(slot, nullptr);
    }
    EXPECT_EQ(record_.item, &item_) << "the record's second field is the host's";
    EXPECT_EQ(record_.flags(nullptr), 0u);
}
