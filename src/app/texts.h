// The fixed texts the tool shows, in UTF-8, character for character.
#pragma once

namespace ost::text {

inline constexpr char kAppName[] = "OstServerUpdate";
inline constexpr char kToolVersion[] = "OstServerUpdate 5.0";
inline constexpr char kDialogTitle[] = "Ostra 服务器升级程序(V5.0)--升级时请不要强制终止程序！";
inline constexpr char kAboutMenuItem[] = "关于 OstServerUpdate(&A)...";
inline constexpr char kAboutTitle[] = "关于 OstServerUpdate";
inline constexpr char kAboutLine1[] = "OstServerUpdate 5.0版";
inline constexpr char kAboutLine2[] = "Ostra 服务器端升级工具";
inline constexpr char kAboutOk[] = "确定";

// Controls.
inline constexpr char kRoute0[] = "走电信网络";
inline constexpr char kRoute1[] = "走网通网络";
inline constexpr char kProcessLabel[] = "●服务器升级更新过程...";
inline constexpr char kButtonStart[] = "◆ 开始升级服务器...";
inline constexpr char kButtonUpdating[] = "▁▃▅▇ 正在更新 ▇▅▃▁";
inline constexpr char kButtonClose[] = "□□ 点击关闭 □□";
inline constexpr char kColumnStep[] = "步骤";
inline constexpr char kColumnItem[] = "项目名称";
inline constexpr char kColumnDesc[] = "说明";
inline constexpr char kColumnStatus[] = "执行状态...";

// Start-up and close.
inline constexpr char kNetworkInitFailed[] = "初始化网络失败。";
inline constexpr char kNoMemory[] = "内存不足，无法初始化更新程序！";
inline constexpr char kCannotExit[] = "正在升级系统,不能退出程序!";
inline constexpr char kAlreadyRunning[] = "本机已有一个升级程序正在运行,不能同时运行!";
inline constexpr char kNotice[] = "提示";

// Progress.
inline constexpr char kDownloadStatusLine[] = "正在下载更新:%s ,共: %d KB,已下载: %d KB,%d%%";
inline constexpr char kDownloadRowStatus[] = "正在下载文件:已下载: %d KB,%d%%";

// Download results.
inline constexpr char kCommunicationFailed[] = "与岚汐服务器通讯失败(%d)...";
inline constexpr char kDownloadDataError[] = "数据下载错误...";

// Check sequence.
inline constexpr char kStep1[] = "1";
inline constexpr char kStep2[] = "2";
inline constexpr char kStep3[] = "3";
inline constexpr char kConfigItem[] = "读取验证配置数据";
inline constexpr char kConfigRunning[] = "开始读取...";
inline constexpr char kConfigDone[] = "读取验证完成";
inline constexpr char kDatabaseItem[] = "连接查询数据库";
inline constexpr char kDatabaseRunning[] = "开始连接查询...";
inline constexpr char kDatabaseDesc[] = "当前版本:%s[%s]";
inline constexpr char kDatabaseDone[] = "连接查询完成";
inline constexpr char kManifestItem[] = "查询岚汐升级信息";
inline constexpr char kManifestRunning[] = "开始查询...";
inline constexpr char kVerifyFailedCaption[] = "服务器验证失败提示";
inline constexpr char kVerifyFailedText[] =
    "读取 Ostra 系统验证失败\r\n"
    "不能确定本机为 Ostra 系统服务器。\r\n"
    "任何问题，请联系岚汐技术服务人员。\r\n"
    "点击确定，退出升级程序...";

// Product database.
inline constexpr char kDbEnvAllocFailed[] = "数据库环境句柄分配错误。";
inline constexpr char kDbEnvSetFailed[] = "数据库环境句柄设置错误。";
inline constexpr char kDbConnAllocFailed[] = "数据库连接句柄分配错误。";
inline constexpr char kDbConnectFailed[] = "数据库服务器连接失败。";
inline constexpr char kDbStmtAllocFailed[] = "数据库操作句柄分配错误。";
inline constexpr char kDbQueryFailedVer[] = "数据库查询失败(ver)。";
inline constexpr char kDbQueryFailedNn[] = "数据库查询失败(nn)。";
inline constexpr char kDbQueryFailedSelf[] = "数据库查询失败(self)。";
inline constexpr char kDbQueryFailedWcid[] = "数据库查询失败(wcid)。";
inline constexpr char kDbQueryFailedWcroot[] = "数据库查询失败(velin-wcroot)。";
inline constexpr char kVersionTooLowCaption[] = "Ostra 版本太低提示";
inline constexpr char kVersionTooLowText[] =
    "系统版本太低，不能进行自动升级！\r\n"
    "请手工升级 Ostra 到 3.73 版以上\r\n"
    "任何问题，请联系岚汐技术服务人员。\r\n"
    "点击确定，退出升级程序...";

// Manifest.
inline constexpr char kManifestDone[] = "查询岚汐完成";
inline constexpr char kVersionUpgrade[] = "版本:%.2f -> %.2f 需要升级!";
inline constexpr char kVersionLatest[] = "最新版本:%.2f";
inline constexpr char kNothingStep[] = "--";
inline constexpr char kCheckResult[] = "检测结果:";
inline constexpr char kNothingToUpdate[] = "没有新服务程序需要更新!";

// Plan and confirmation.
inline constexpr char kHeaderStep[] = "※";
inline constexpr char kHeaderItem[] = "※检测结果※";
inline constexpr char kHeaderDesc[] = "※需要更新如下系统服务※";
inline constexpr char kHeaderStatus[] = "查询服务，耐心等待...";
inline constexpr char kOstraScriptItem[] = "Ostra 版本升级";
inline constexpr char kOstraScriptDesc[] = "更新数据库到:%.2f版";
inline constexpr char kVelinScriptItem[] = "Velin 版本升级";
inline constexpr char kVelinScriptDesc[] = "更新数据库到:%.1f版";
inline constexpr char kServiceRunning[] = "该服务正在运行";
inline constexpr char kServiceStoppedNow[] = "目前为停止状态";
inline constexpr char kDetailDownloads[] = "+%u个下载";
inline constexpr char kSummarySeconds[] = "◎共需进行 %d 项更新%s,预计所需时间 %d 秒。";
inline constexpr char kSummaryMinutes[] = "◎共需进行 %d 项更新%s,预计所需时间 %d 分 %d 秒。";
inline constexpr char kConfirmCaption[] = "确认提示";
inline constexpr char kConfirmNoticeBar[] = "━━━━━━━※特※别※提※示※━━━━━━━━";
inline constexpr char kConfirmOstraUpgrade[] = "*需要升级 Ostra 版本：从 %.2f 到 %.2f";
inline constexpr char kConfirmNotifyClients[] =
    "*强烈建议升级之前，通过【系统信使】发出通知:暂停操作";
inline constexpr char kConfirmCloseClients[] = "*让所有 Ostra 客户端关闭！";
inline constexpr char kConfirmWait[] = "*等待约10分钟的升级完成后再登入系统。";
inline constexpr char kConfirmRule[] = "━━━━━━━━━━━━━━━━━━━━━━━━";
inline constexpr char kConfirmQuestion[] = "现在立即开始更新系统吗？请确认！";
inline constexpr char kConfirmNoOstraUpgrade[] = "本次更新没有 Ostra 版本升级，不影响客户端操作";
inline constexpr char kConfirmWebStops[] = "由于要升级网站平台，网站服务会有短暂的停止";
inline constexpr char kStoppingService[] = "正在停止服务...";
inline constexpr char kServiceStopOk[] = "停止服务 ok";
inline constexpr char kServiceStopFailed[] = "停止服务失败";

// Downloads and their application.
inline constexpr char kUpdateComplete[] = "★ Ostra 服务器系统升级更新完毕!";
inline constexpr char kUnpackFailed[] = "文件解压错误，异常终止！";
inline constexpr char kWriteFailed[] = "写文件错误，异常终止！";
inline constexpr char kUpdatedStarting[] = "更新完成,启动服务...";
inline constexpr char kUpdatedStaysStopped[] = "更新完成,服务保持停止状态。";
inline constexpr char kUpdatedStarted[] = "更新完成,服务已启动。";
inline constexpr char kUpdatedStartFailed[] = "更新完成,启动服务...失败！";
inline constexpr char kScriptDone[] = "升级完成。B:%d/E:%d";

// Scripts in one transaction (ScriptTransaction = 1).
inline constexpr char kScriptRolledBack[] = "第%d批执行失败,脚本已全部撤销: %s";
inline constexpr char kScriptTransactionFailed[] = "数据库事务失败,脚本已撤销: %s";

// The health check of a started service (HealthSeconds).
inline constexpr char kHealthWaiting[] = "服务已启动,检查运行 %d 秒...";
inline constexpr char kHealthPassed[] = "更新完成,服务已稳定运行 %d 秒。";
inline constexpr char kHealthFailed[] = "服务启动后未能持续运行 %d 秒,异常终止！";

// The automatic rollback (AutoRollback = 1, --auto-rollback).
inline constexpr char kAutoRolledBack[] = "更新失败,已自动回滚到更新前的状态。";
inline constexpr char kAutoRollbackIncomplete[] = "更新失败,自动回滚未完成: %s";

// A run that an earlier one, killed half-way, left behind.
inline constexpr char kInterruptedRunFound[] =
    "上次升级(%s)被中断,本次结束时将重新启动当时运行的服务。";
inline constexpr char kInterruptedRunScript[] = "上次升级中断于脚本 %s 第 %d 批,重新执行该脚本...";
inline constexpr char kInterruptedRunScriptWhole[] =
    "上次升级中断于脚本 %s (已整体撤销),重新执行该脚本...";
inline constexpr char kInterruptedServicesStarted[] = "上次升级被中断,已重新启动当时运行的服务: %s";
inline constexpr char kInterruptedServicesFailed[] =
    "上次升级被中断,当时运行的服务未能重新启动: %s";

// The program folder where no backup can be kept (a network path, a backup folder that
// is no folder of the tool's own): shown with the plan, before the confirmation.
inline constexpr char kNoBackupFolder[] =
    "◎注意:无法建立备份文件夹,已有的文件不会被覆盖(写文件错误)。请从本机磁盘上的文件夹运行本程序。";

// Windows without SetDefaultDllDirectories, where ODBC32.dll could not be loaded from
// the system folder: the tool does not start, lest it take one from its own folder.
inline constexpr char kDllSearchUnsafe[] =
    "无法从系统文件夹加载 ODBC32.dll,为安全起见本程序不能运行。请安装 Windows 更新 KB2533623 "
    "后再试。";

// The staged mode.
inline constexpr char kStagedWaiting[] = "已下载,等待更新";
inline constexpr char kStagedAllHere[] = "更新包已全部下载,开始更新...";

// The rollback command.
inline constexpr char kRollbackNothing[] = "没有可回滚的更新。";
inline constexpr char kRollbackUnknownRun[] = "没有更新 %s 的备份。";
inline constexpr char kRollbackUnreadable[] = "更新 %s 的备份记录不能读取。";
inline constexpr char kRollbackAlready[] = "更新 %s 已经回滚过,不能再次回滚。";
inline constexpr char kRollbackStart[] = "回滚更新 %s: %d 个文件";
inline constexpr char kRollbackRestored[] = "已恢复: %s";
inline constexpr char kRollbackRemoved[] = "已删除(更新前没有此文件): %s";
inline constexpr char kRollbackNotRestored[] = "未能恢复: %s (%s)";
inline constexpr char kRollbackNoCopy[] = "没有备份副本";
inline constexpr char kRollbackCopyDamaged[] = "备份副本已损坏";
inline constexpr char kRollbackWriteFailed[] = "写文件错误";
inline constexpr char kRollbackChanged[] = "此文件在更新之后又被改动过";
inline constexpr char kRollbackPathRefused[] = "备份记录中的路径不是本程序会写的位置";
inline constexpr char kRollbackFolderMoved[] = "网站文件夹已变为链接或连接点";
inline constexpr char kRollbackLaterRun[] =
    "更新 %s 之后的更新 %s 又改写了同样的文件,请先回滚更新 %s。";
inline constexpr char kRollbackServiceStopped[] = "停止服务 %s ok";
inline constexpr char kRollbackServiceStopFailed[] = "停止服务 %s 失败";
inline constexpr char kRollbackServiceStarted[] = "启动服务 %s ok";
inline constexpr char kRollbackServiceStartFailed[] = "启动服务 %s 失败";
inline constexpr char kRollbackNumber[] = "更新编号已恢复: %s -> %d";
inline constexpr char kRollbackNumberFailed[] = "更新编号未能恢复: %s";
inline constexpr char kRollbackRecordDescription[] = "回滚到第%d次更新";
inline constexpr char kRollbackScripts[] =
    "数据库脚本不能撤销: 本次更新执行过的 %d 个数据库升级脚本仍然有效。";
inline constexpr char kRollbackDone[] = "回滚完成。";
inline constexpr char kRollbackIncomplete[] = "回滚未完成: %d 项未能恢复,请检查以上各项。";

// The recovery command (--recover), and the refusal to start while a run awaits it.
inline constexpr char kRecoverNothing[] = "没有需要恢复的中断更新。";
inline constexpr char kRecoverStart[] = "恢复中断的更新 %s...";
inline constexpr char kRecoverUnreadable[] = "中断更新的记录不能读取: %s";
inline constexpr char kRecoverScriptsUndone[] = "数据库脚本已随事务整体撤销: %s";
inline constexpr char kRecoverScriptsStay[] = "数据库脚本仍然有效(不能撤销): %s";
inline constexpr char kRecoverUndecided[] = "不能确定数据库事务是否已提交: %s";
inline constexpr char kRecoverCommitted[] =
    "中断的更新 %s 已提交数据库事务,不能撤销: 已完成该更新并重新启动当时运行的服务。";
inline constexpr char kRecoverDone[] = "恢复完成: 已回到更新 %s 之前的状态。";
inline constexpr char kRecoverIncomplete[] = "恢复未完成,仍有改动: %s";
inline constexpr char kRecoverFilesStay[] = "文件或更新编号";
inline constexpr char kRecoverServicesStay[] = "服务 %s 未能启动";
inline constexpr char kRecoverLeftover[] = "未写完的临时文件不能删除: %s";
inline constexpr char kRecoverFirst[] =
    "上次升级(%s)被中断,尚未恢复。请先以管理员身份运行 OstServerUpdate.exe --recover,再进行升级。";

// Signed releases (registry value UpdateKey set).
inline constexpr char kUpdateKeyUnusable[] = "升级公钥设置错误...";
inline constexpr char kNoCrypto[] = "无法验证签名...";
inline constexpr char kIndexDownloadFailed[] = "签名文件下载失败(%d)...";
inline constexpr char kIndexMalformed[] = "签名文件格式错误...";
inline constexpr char kIndexBadSignature[] = "签名验证失败,升级信息不可信!";
inline constexpr char kManifestNotSigned[] = "升级信息与签名不符...";
inline constexpr char kPackageMismatch[] = "文件校验失败，异常终止！";
inline constexpr char kPackageNotSigned[] = "文件未经签名，异常终止！";
inline constexpr char kScriptCutByZero[] = "脚本中有零字节,未执行!";
inline constexpr char kWrittenAtFallback[] = "已写入固定位置 %s,网站可能仍在使用旧文件!";
inline constexpr char kIndexOlder[] = "升级索引早于已应用的版本,拒绝降级!";
inline constexpr char kIndexExpired[] = "升级索引已过期,请发布方重新签名!";
inline constexpr char kSerialNotRecorded[] = "无法记录升级索引序号,异常终止！";

// Configuration store.
inline constexpr char kRegistryReadFailed[] = "注册表读取失败！";

}  // namespace ost::text
