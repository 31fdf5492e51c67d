#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "scope/ModelTable.h"
#include "support/ModuleInfo.h"

namespace cvn {
namespace {

// Writes the override file beside the test binary and removes it afterwards.
class OverrideFile {
public:
    explicit OverrideFile(const std::string& content) {
        std::ofstream(ModelOverridePath(), std::ios::binary) << content;
    }
    ~OverrideFile() { std::filesystem::remove(ModelOverridePath()); }
};

TEST(ModelTable, BuiltInListsHaveTheDocumentedShape) {
    std::filesystem::remove(ModelOverridePath());
    LoadModelTable();
    EXPECT_EQ(gModelList.size(), 604u);
    ASSERT_EQ(gModels.size(), 67u);
    int pods = 0;
    for (size_t i = 0; i < gModels.size(); ++i) {
        const auto& id = gModels[i];
        EXPECT_GE(id.size(), 6u);
        EXPECT_LE(id.size(), 10u);
        pods += ModelHasPods(id);
        // Only the newest family (the last 30) needs streaming switched off.
        EXPECT_EQ(FamilyFragmentCount(id) > 0, i >= 37) << id;
        const int expected = (i + 1 == 6 || i + 1 == 8 || i + 1 == 10 || i + 1 == 11 ||
                              i + 1 == 14 || i + 1 == 15) ? 2 : 4;
        EXPECT_EQ(ChannelCountOf(id, gModelList, gChannelList), expected) << id;
    }
    EXPECT_EQ(pods, 10);
}

TEST(ModelTable, SupportIsFoundAnywhereInTheReplyIgnoringCase) {
    std::filesystem::remove(ModelOverridePath());
    LoadModelTable();
    EXPECT_TRUE(IsSupportedModel("CORVANE,MSOHX5104,CVN00000001,1.0\n"));
    EXPECT_TRUE(IsSupportedModel("corvane,hx7pro1004,x,y"));
    EXPECT_FALSE(IsSupportedModel("OTHER,ZZ9000,1,1"));
    EXPECT_FALSE(ChannelCountOf("NOPE", gModelList, gChannelList).has_value());
    EXPECT_EQ(ChannelCountOf("hv1012", gModelList, gChannelList), 2);
    EXPECT_TRUE(ModelHasPods("hvs3014d"));
    EXPECT_TRUE(ModelHasPods("msoX"));
    EXPECT_FALSE(ModelHasPods("HXMSO1"));
}

TEST(ModelTable, OverrideFileReplacesBothLists) {
    {
        OverrideFile file("[Corvane Halvio Series]\nModel=AB12,CD34\nChannels=2\n");
        LoadModelTable();
        EXPECT_EQ(gModelList, "AB12,CD34");
        EXPECT_TRUE(IsSupportedModel("X,ab12,Y"));
        EXPECT_FALSE(IsSupportedModel("X,HV1014,Y"));
        // A channel list shorter than the model list gives no count.
        EXPECT_EQ(ChannelCountOf("AB12", gModelList, gChannelList), 2);
        EXPECT_FALSE(ChannelCountOf("CD34", gModelList, gChannelList).has_value());
    }
    {
        OverrideFile file("");
        LoadModelTable();
        EXPECT_EQ(gModelList, "");
        EXPECT_EQ(gChannelList, "");
    }
    {
        // An empty entry is contained in every text: everything is supported.
        OverrideFile file("[corvane halvio series]\nmodel=AB12,,CD34\n");
        LoadModelTable();
        EXPECT_TRUE(IsSupportedModel("anything at all"));
    }
    {
        OverrideFile file("[Corvane Halvio Series]\nModel=" + std::string(600, 'Q') + "\n");
        LoadModelTable();
        EXPECT_EQ(gModelList.size(), 499u);
    }
    LoadModelTable();
    EXPECT_EQ(gModels.size(), 67u);
}

}  // namespace
}  // namespace cvn
