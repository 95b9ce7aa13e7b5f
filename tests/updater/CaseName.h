#pragma once

#include <string>

/** Names each instance of a table test after the `name` of its case. */
struct CaseName
{
    template <typename TestParamInfo>
    std::string operator() (const TestParamInfo& testInfo) const
    {
        return testInfo.param.name;
    }
};
