#include "runs/run_events.h"

#include <QJsonDocument>
#include <QStringList>

namespace {

// A line longer than this is no event; it is dropped rather than kept growing.
constexpr qsizetype kMaxLine = 1 << 20;

QString plural(const QString& kind, qint64 count) {
  return QString("%1 %2%3").arg(count).arg(kind).arg(count == 1 ? "" : "s");
}

}  // namespace

void RunAccount::Feed(const QByteArray& chunk) {
  pending_ += chunk;
  qsizetype start = 0;
  for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n', start)) {
    const QJsonDocument line = QJsonDocument::fromJson(pending_.mid(start, end - start));
    if (line.isObject()) Take(line.object());
    start = end + 1;
  }
  pending_.remove(0, start);
  if (pending_.size() > kMaxLine) pending_.clear();
}

void RunAccount::Take(const QJsonObject& event) {
  const QString name = event.value("event").toString();
  if (name == "step") {
    const QString outcome = event.value("outcome").toString();
    const QString reason = event.value("reason").toString();
    QString text = event.value("kind").toString() == "row" ? "line " + event.value("name").toString()
                                                           : event.value("name").toString();
    if (event.value("kind").toString() == "channel") text = "channel " + text;
    if (text.isEmpty()) text = event.value("kind").toString();
    text += ": " + (reason.isEmpty() ? outcome : reason);
    const QString mark = outcome == "done" ? (reason.isEmpty() ? "✓" : "!") : outcome == "skipped" ? "–" : "✗";
    steps_.append(QJsonObject{{"mark", mark}, {"text", text}, {"outcome", outcome}});
    // Gateways of a site finish in any order, each step naming its row's place: they are counted instead.
    const qint64 done = event.value("kind").toString() == "gateway" ? ++gateways_finished_ : event.value("index").toInteger();
    if (event.value("kind").toString() != "row")
      progress_ = QString("%1 of %2").arg(done).arg(event.value("total").toInteger());
  } else if (name == "start") {
    action_ = event.value("action").toString();
  } else if (name == "progress") {
    // A restore or a setup uploads per step: there the steps tell how far it got.
    const qint64 total = event.value("total").toInteger();
    if (total > 0 && action_ == "push_firmware") progress_ = QString("%1%").arg(event.value("bytes").toInteger() * 100 / total);
  } else if (name == "conversion") {
    steps_.append(QJsonObject{{"mark", "→"},
                              {"text", QString("%1: record converted from version %2 to %3")
                                           .arg(event.value("configuration").toString())
                                           .arg(event.value("from").toVariant().toString(),
                                                event.value("to").toVariant().toString())},
                              {"outcome", "conversion"}});
  } else if (name == "plan") {
    const QString reason = event.value("reason").toString();
    steps_.append(QJsonObject{{"mark", event.value("outcome").toString() == "refused" ? "✗" : "✓"},
                              {"text", event.value("configuration").toString() + ": " +
                                           (reason.isEmpty() ? event.value("outcome").toString() : reason)},
                              {"outcome", event.value("outcome").toString()}});
  } else if (name == "rows") {
    const qint64 skipped = event.value("skipped").toInteger();
    steps_.append(QJsonObject{
        {"mark", skipped > 0 ? "!" : "✓"},
        {"text", QString("channel %1: applied %2 of %3 rows, %4 skipped")
                     .arg(event.value("channel").toVariant().toString())
                     .arg(event.value("applied").toInteger())
                     .arg(event.value("total").toInteger())
                     .arg(skipped)},
        {"outcome", skipped > 0 ? "warning" : "done"}});
  } else if (name == "file") {
    files_.append(QJsonObject{{"kind", event.value("kind").toString()}, {"path", event.value("path").toString()}});
  } else if (name == "warning") {
    warnings_.append(event.value("text").toString());
  } else if (name == "notice") {
    notices_.append(event.value("text").toString());
  } else if (name == "summary") {
    summary_ = event;
  }
}

QString RunAccount::Progress() const { return progress_; }

QJsonArray RunAccount::Rows() const { return steps_; }

QString RunAccount::SummaryLine() const {
  if (summary_.isEmpty()) return {};
  QStringList parts;
  for (const QJsonValue& warning : warnings_) parts << warning.toString();
  const QJsonObject counts = summary_.value("counts").toObject();
  for (auto kind = counts.begin(); kind != counts.end(); ++kind) {
    const QJsonObject outcomes = kind.value().toObject();
    qint64 all = 0;
    QStringList each;
    for (auto outcome = outcomes.begin(); outcome != outcomes.end(); ++outcome) {
      all += outcome.value().toInteger();
      each << QString("%1 %2").arg(outcome.value().toInteger()).arg(outcome.key());
    }
    parts << plural(kind.key(), all) + ": " + each.join(", ");
  }
  const QString result = summary_.value("result").toString();
  const QString head = result == "done"       ? "Done"
                       : result == "warnings" ? "Finished with warnings"
                       : result == "usage"    ? "Not started: the console tool was missing values"
                                              : "Failed";
  return parts.isEmpty() ? head + "." : head + ": " + parts.join("; ") + ".";
}

QJsonObject RunAccount::Record() const {
  QString archive;
  for (const QJsonValue& file : files_) {
    if (file.toObject().value("kind").toString() == "backup") archive = file.toObject().value("path").toString();
  }
  return {{"result", summary_.value("result").toString()},
          {"summary", SummaryLine()},
          {"warnings", warnings_},
          {"notices", notices_},
          {"files", files_},
          {"archive", archive},
          {"steps", steps_}};
}
