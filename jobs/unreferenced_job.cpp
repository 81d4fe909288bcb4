#include "jobs/unreferenced_job.h"

#include <string>
#include <string_view>

#include "core/exec_log.h"
#include "index/link_list_pages.h"
#include "jobs/tree_walk.h"
#include "platform/language.h"
#include "rebuild/link_list.h"

namespace lumbra {

bool RunUnreferencedJob(JobTarget& job) {
  job.frontend.ShowStatus(platform::Tr("作成されたログの参照関係を再構成しています"));
  // A former job's list goes; one that cannot be made leaves the link pages to say so.
  LinkList links;
  const std::string listPath = job.ctx.StartFile(kLinkListName);
  if (!links.Open(listPath)) {
    RecordFileFailure(job.ctx, job.counters, "サーチ用一時ファイル作成失敗", listPath);
  }
  JobTarget listing = job;
  listing.links = &links;
  const std::string& root = job.ctx.unreferencedDir;
  const bool walked = WalkLogTree(listing, root);
  links.Close();
  // A link too long for a line of the list is not listed: each is named and counted.
  for (const std::string& link : links.tooLong()) {
    RecordFileFailure(job.ctx, job.counters, "長すぎてリンク一覧に入らないリンク", link);
  }
  // A line that could not be appended (a full disk) leaves its link off the link pages.
  for (const std::string& link : links.lost()) {
    RecordFileFailure(job.ctx, job.counters, "リンク一覧に書き込めなかったリンク", link);
  }
  if (!walked) return false;
  job.counters.failedFiles +=
      WriteLinkListPages(job.ctx, job.frontend, std::string_view(root).substr(root.rfind('/') + 1));
  return true;
}

}  // namespace lumbra
