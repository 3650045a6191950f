#include "runs/run_events.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char* name;
  QByteArray events;
  QString progress, result, summary, archive, last_row;
};

TEST(RunAccount, ShowsWhatTheEventsTell) {
  const Case cases[] = {
      {"incomplete backup",
       R"j({"event":"start","action":"get_backup","gateway":"g"}
{"event":"progress","bytes":0,"total":400}
{"event":"step","kind":"configuration","name":"rlc","index":1,"total":3,"outcome":"done","reason":null}
{"event":"step","kind":"configuration","name":"dali2","index":2,"total":3,"outcome":"failed","reason":"HTTP 500"}
{"event":"file","kind":"backup","path":"/b/x.zip"}
{"event":"warning","text":"Backup incomplete: dali2 missing (HTTP 500)"}
{"event":"summary","counts":{"configuration":{"done":1,"failed":1}},"warnings":1,"result":"failed","exit_status":1}
)j",
       "2 of 3", "failed", "Failed: Backup incomplete: dali2 missing (HTTP 500); 2 configurations: 1 done, 1 failed.",
       "/b/x.zip", "✗  dali2: HTTP 500"},
      {"skipped rows",
       R"j({"event":"rows","channel":2,"file":"c.csv","applied":1,"total":5,"skipped":4}
{"event":"step","kind":"row","name":"3","index":2,"total":5,"outcome":"skipped","reason":"no address"}
{"event":"step","kind":"channel","name":"2","index":1,"total":1,"outcome":"done","reason":"4 of 5 rows skipped"}
{"event":"summary","counts":{"channel":{"done":1},"row":{"skipped":4}},"warnings":0,"result":"warnings","exit_status":1}
)j",
       "1 of 1", "warnings", "Finished with warnings: 1 channel: 1 done; 4 rows: 4 skipped.", "",
       "!  channel 2: 4 of 5 rows skipped"},
      // A site's gateways end in any order: the progress counts them, not their row's place.
      {"site backup",
       R"j({"event":"start","action":"site_backup","gateway":null}
{"event":"step","kind":"gateway","name":"hall-2","index":2,"total":20,"outcome":"done","reason":null}
{"event":"notice","text":"hall-2: channel 1 gear 5 renamed"}
{"event":"step","kind":"gateway","name":"hall-9","index":9,"total":20,"outcome":"failed","reason":"no answer"}
{"event":"summary","counts":{"gateway":{"done":19,"failed":1}},"warnings":0,"result":"failed","exit_status":1}
)j",
       "2 of 20", "failed", "Failed: 20 gateways: 19 done, 1 failed.", "", "✗  hall-9: no answer"},
      // An upload in progress, the last line still arriving: no summary yet.
      {"upload", R"j({"event":"start","action":"push_firmware","gateway":"g"}
{"event":"progress","bytes":0,"total":400}
{"event":"progress","bytes":180,"total":400}
{"event":"summ)j", "45%", "", "", "", ""},
      {"not events", "varnu-cli\nACTION=get_backup\n[1,2]\n", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    RunAccount account;
    // Fed in small pieces: a line split between reads still counts once.
    for (qsizetype at = 0; at < c.events.size(); at += 7) account.Feed(c.events.mid(at, 7));
    const QJsonObject record = account.Record();
    EXPECT_EQ(account.Progress(), c.progress) << c.name;
    EXPECT_EQ(record.value("result").toString(), c.result) << c.name;
    EXPECT_EQ(record.value("summary").toString(), c.summary) << c.name;
    EXPECT_EQ(record.value("archive").toString(), c.archive) << c.name;
    const QJsonArray rows = account.Rows();
    const QString last = rows.isEmpty() ? QString()
                                        : rows.last().toObject().value("mark").toString() + "  " +
                                              rows.last().toObject().value("text").toString();
    EXPECT_EQ(last, c.last_row) << c.name;
  }
}

}  // namespace
