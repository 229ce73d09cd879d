<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>BrowserPage</name>
    <message>
        <source>找不到这个页面的文件：%1</source>
        <translation>The file of this page is not there: %1</translation>
    </message>
    <message>
        <source>浏览器无法载入这个页面。</source>
        <translation>The browser could not load this page.</translation>
    </message>
    <message>
        <source>页面无法打开</source>
        <translation>This page cannot be opened</translation>
    </message>
    <message>
        <source>详细信息</source>
        <translation>Details</translation>
    </message>
</context>
<context>
    <name>CrashReporterWindow</name>
    <message>
        <source>tavix 意外停止运行。</source>
        <translation>tavix stopped unexpectedly.</translation>
    </message>
    <message>
        <source>打开所在文件夹</source>
        <translation>Open the containing folder</translation>
    </message>
    <message>
        <source>重新启动 tavix</source>
        <translation>Start tavix again</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>没有写出转储文件。</source>
        <translation>No crash dump was written.</translation>
    </message>
    <message>
        <source>转储文件：%1</source>
        <translation>Crash dump: %1</translation>
    </message>
</context>
<context>
    <name>FirmwareWriter</name>
    <message>
        <source>鼠标更新失败。。。</source>
        <translation>Updating the mouse failed...</translation>
    </message>
    <message>
        <source>更新失败</source>
        <translation>Update failed</translation>
    </message>
    <message>
        <source>更新成功</source>
        <translation>Update succeeded</translation>
    </message>
    <message>
        <source>校验失败，请重新更新</source>
        <translation>Verification failed, please update again</translation>
    </message>
    <message>
        <source>校验成功,启动设备。。。</source>
        <translation>Verified, starting the device...</translation>
    </message>
</context>
<context>
    <name>PopWidget</name>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>SystemCommands</name>
    <message>
        <source>保存为</source>
        <translation>Save as</translation>
    </message>
    <message>
        <source>pfd文件(*.pfd)</source>
        <translation>Profile packages (*.pfd)</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>SystemTray</name>
    <message>
        <source>打开客户端</source>
        <translation>Open tavix</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>infoDlg</name>
    <message>
        <source>   当前未检测到设备</source>
        <translation>   No device is connected</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>tavixClass</name>
    <message>
        <source>tavix</source>
        <translation>tavix</translation>
    </message>
</context>
<context>
    <name>updateDlg</name>
    <message>
        <source>   发现新版本，是否更新？</source>
        <translation>   A new version is available. Update now?</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>正在下载资源包。。。</source>
        <translation>Downloading the update packages...</translation>
    </message>
    <message>
        <source>   当前版本为最新版本</source>
        <translation>   You have the latest version</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>下载失败请检查网络是否异常</source>
        <translation>The download failed. Please check the network.</translation>
    </message>
    <message>
        <source>下载完成，是否重启客户端完成更新</source>
        <translation>Download complete. Restart tavix to finish the update?</translation>
    </message>
    <message>
        <source>立即重启</source>
        <translation>Restart now</translation>
    </message>
    <message>
        <source>更新完成</source>
        <translation>Update complete</translation>
    </message>
    <message>
        <source>正在更新固件，请勿插拔鼠标</source>
        <translation>Updating the firmware. Do not unplug the mouse.</translation>
    </message>
    <message>
        <source>   程序由软件包管理器更新</source>
        <translation>   The program is updated by the package manager</translation>
    </message>
    <message>
        <source>更新包签名无效，已拒绝安装</source>
        <translation>The package is not signed by the vendor: it was not installed</translation>
    </message>
    <message>
        <source>更新包版本不高于当前版本，已拒绝安装</source>
        <translation>The package is not newer than this version: it was not installed</translation>
    </message>
    <message>
        <source>固件版本低于设备当前版本，已拒绝更新</source>
        <translation>The firmware is older than the device&apos;s: it was not written</translation>
    </message>
</context>
</TS>
