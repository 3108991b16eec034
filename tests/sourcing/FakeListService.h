#pragma once
// A stand-in list service on loopback for the sourcing tests: it records what the program sent
// (form fields in order, queries) and answers with what the test set up.

#include "tests/support/LoopbackHttpServer.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class FakeListService {
public:
    using TFields = std::vector<std::pair<std::string, std::string>>;

    /// Status and body of the list reply (the body is sent as it is: compress it in the test).
    int ListStatus = 200;
    std::string ListBody;
    int CountryStatus = 200;
    std::string CountryBody;
    int UpdateStatus = 200;
    std::string UpdateBody;
    std::string CustomPage;
    /// Runs inside the update handler, before it answers (to look at the store at that moment).
    std::function<void()> OnUpdateRequest;

    FakeListService() {
        auto &s = FPeer.Server;
        s.Post("/engine/index2.php",
               [this](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
                   TFields fields;
                   if (req.is_multipart_form_data())
                       reader(
                           [&](const httplib::MultipartFormData &part) {
                               fields.push_back({part.name, ""});
                               return true;
                           },
                           [&](const char *data, size_t n) {
                               fields.back().second.append(data, n);
                               return true;
                           });
                   std::lock_guard<std::mutex> l(FLock);
                   FFields = fields;
                   FTargets.push_back(req.target);
                   res.status = ListStatus;
                   res.set_content(ListBody, "application/octet-stream");
               });
        s.Get("/engine/index2.php", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> l(FLock);
            FTargets.push_back(req.target);
            if (req.has_param("countryportlist")) {
                res.status = CountryStatus;
                res.set_content(CountryBody, "text/plain");
            } else {
                if (OnUpdateRequest)
                    OnUpdateRequest();
                res.status = UpdateStatus;
                res.set_content(UpdateBody, "text/plain");
            }
        });
        s.Get("/list.html", [this](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard<std::mutex> l(FLock);
            FTargets.push_back(req.target);
            res.set_content(CustomPage, "text/html");
        });
        FPeer.Start();
    }

    QString BaseUrl() const { return FPeer.Url(); }
    int Port() const { return FPeer.Port(); }
    TFields Fields() {
        std::lock_guard<std::mutex> l(FLock);
        return FFields;
    }
    std::vector<std::string> Targets() {
        std::lock_guard<std::mutex> l(FLock);
        return FTargets;
    }

private:
    std::mutex FLock;
    TFields FFields;
    std::vector<std::string> FTargets;
    testsupport::LoopbackHttpServer FPeer; // last: stopped first, before the fields it writes go
};
