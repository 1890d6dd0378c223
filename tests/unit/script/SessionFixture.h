// A window object with an update server behind the fake HTTP client: each
// server path maps to a file the test puts there.
#pragma once

#include <map>

#include "fakes/FormFixture.h"

namespace qx::fake {

class SessionTest : public FormTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(form.Form_Load());
        form.strServerURL = u"http://10.0.0.1";
        s.http.server = [this](const HttpExchange& r) {
            const Text prefix = form.strServerURL;
            const Text path = r.url.substr(0, prefix.size()) == prefix ? r.url.substr(prefix.size()) : r.url;
            auto it = site.find(path);
            if (it == site.end()) {
                HttpResponse missing;
                missing.status = 404;
                return missing;
            }
            return it->second(r);
        };
    }

    // update.inf with CR LF line ends, in the fake code page.
    void Publish(const std::vector<std::string>& lines) {
        std::string body;
        for (const auto& l : lines) body += l + "\r\n";
        site[u"/qxupdate/update.inf"].content = body;
    }

    std::vector<std::string> Log() const {
        std::vector<std::string> out;
        for (const Text& l : s.window.list) out.push_back(ToUtf8(l));
        return out;
    }

    std::string StoredStamp() {
        return ToUtf8(s.settings.GetSetting(u"QXUpdate", u"System", u"Version", u"<none>"));
    }

    int Gets() const {
        int n = 0;
        for (const auto& r : s.http.requests) n += r.method == u"GET";
        return n;
    }

    std::map<Text, FileServer> site;
};

}  // namespace qx::fake
