<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>KX47main</name>
    <message>
        <source>KX47main</source>
        <translation>KX47main</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>串口设置</source>
        <translation>Serial port settings</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;端口号&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Port&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;波特率&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Baud rate&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;停止位&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Stop bits&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;效验位&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Parity&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>波特率搜索</source>
        <translation>Baud rate search</translation>
    </message>
    <message>
        <source>连接设备</source>
        <translation>Connect device</translation>
    </message>
    <message>
        <source>退出配置</source>
        <translation>Leave config mode</translation>
    </message>
    <message>
        <source>恢复出厂配置</source>
        <translation>Restore factory settings</translation>
    </message>
    <message>
        <source>重启设备</source>
        <translation>Restart device</translation>
    </message>
    <message>
        <source>写入配置</source>
        <translation>Write configuration</translation>
    </message>
    <message>
        <source>串口参数设置</source>
        <translation>Serial parameter settings</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>600</source>
        <translation>600</translation>
    </message>
    <message>
        <source>1200</source>
        <translation>1200</translation>
    </message>
    <message>
        <source>2400</source>
        <translation>2400</translation>
    </message>
    <message>
        <source>4800</source>
        <translation>4800</translation>
    </message>
    <message>
        <source>9600</source>
        <translation>9600</translation>
    </message>
    <message>
        <source>14400</source>
        <translation>14400</translation>
    </message>
    <message>
        <source>19200</source>
        <translation>19200</translation>
    </message>
    <message>
        <source>38400</source>
        <translation>38400</translation>
    </message>
    <message>
        <source>57600</source>
        <translation>57600</translation>
    </message>
    <message>
        <source>115200</source>
        <translation>115200</translation>
    </message>
    <message>
        <source>128000</source>
        <translation>128000</translation>
    </message>
    <message>
        <source>230400</source>
        <translation>230400</translation>
    </message>
    <message>
        <source>256000</source>
        <translation>256000</translation>
    </message>
    <message>
        <source>460800</source>
        <translation>460800</translation>
    </message>
    <message>
        <source>停止位</source>
        <translation>Stop bits</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>校验位</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>NONE</source>
        <translation>NONE</translation>
    </message>
    <message>
        <source>ODD</source>
        <translation>ODD</translation>
    </message>
    <message>
        <source>EVEN</source>
        <translation>EVEN</translation>
    </message>
    <message>
        <source>CAN总线设置</source>
        <translation>CAN bus settings</translation>
    </message>
    <message>
        <source>CAN波特率</source>
        <translation>CAN baud rate</translation>
    </message>
    <message>
        <source>6K</source>
        <translation>6K</translation>
    </message>
    <message>
        <source>10K</source>
        <translation>10K</translation>
    </message>
    <message>
        <source>20K</source>
        <translation>20K</translation>
    </message>
    <message>
        <source>50K</source>
        <translation>50K</translation>
    </message>
    <message>
        <source>100K</source>
        <translation>100K</translation>
    </message>
    <message>
        <source>120K</source>
        <translation>120K</translation>
    </message>
    <message>
        <source>125K</source>
        <translation>125K</translation>
    </message>
    <message>
        <source>150K</source>
        <translation>150K</translation>
    </message>
    <message>
        <source>200K</source>
        <translation>200K</translation>
    </message>
    <message>
        <source>250K</source>
        <translation>250K</translation>
    </message>
    <message>
        <source>400K</source>
        <translation>400K</translation>
    </message>
    <message>
        <source>500K</source>
        <translation>500K</translation>
    </message>
    <message>
        <source>600K</source>
        <translation>600K</translation>
    </message>
    <message>
        <source>750K</source>
        <translation>750K</translation>
    </message>
    <message>
        <source>1000K</source>
        <translation>1000K</translation>
    </message>
    <message>
        <source>帧类别</source>
        <translation>Frame type</translation>
    </message>
    <message>
        <source>NDTF(标准帧)</source>
        <translation>NDTF (standard frame)</translation>
    </message>
    <message>
        <source>EDTF(扩展帧)</source>
        <translation>EDTF (extended frame)</translation>
    </message>
    <message>
        <source>帧ID</source>
        <translation>Frame ID</translation>
    </message>
    <message>
        <source>日志窗口</source>
        <translation>Log window</translation>
    </message>
    <message>
        <source>清空显示</source>
        <translation>Clear display</translation>
    </message>
    <message>
        <source>转换方向</source>
        <translation>Conversion direction</translation>
    </message>
    <message>
        <source>UART-CAN</source>
        <translation>UART-CAN</translation>
    </message>
    <message>
        <source>CAN-UART</source>
        <translation>CAN-UART</translation>
    </message>
    <message>
        <source>双向</source>
        <translation>Both ways</translation>
    </message>
    <message>
        <source>配置参数</source>
        <translation>Configure parameters</translation>
    </message>
    <message>
        <source>配置CAN参数</source>
        <translation>Configure CAN parameters</translation>
    </message>
    <message>
        <source>转换参数</source>
        <translation>Conversion parameters</translation>
    </message>
    <message>
        <source>转换模式</source>
        <translation>Conversion mode</translation>
    </message>
    <message>
        <source>TRANS(透明模式)</source>
        <translation>TRANS (transparent)</translation>
    </message>
    <message>
        <source>TPRTL(透明带标识模式)</source>
        <translation>TPRTL (transparent with identifier)</translation>
    </message>
    <message>
        <source>PROTOL(协议模式)</source>
        <translation>PROTOL (protocol)</translation>
    </message>
    <message>
        <source>MODBUS(MODBUS模式)</source>
        <translation>MODBUS (Modbus)</translation>
    </message>
    <message>
        <source>USER(自定义)</source>
        <translation>USER (user defined)</translation>
    </message>
    <message>
        <source>透明模式参数</source>
        <translation>Transparent mode parameters</translation>
    </message>
    <message>
        <source>使能帧ID</source>
        <translation>Enable frame ID</translation>
    </message>
    <message>
        <source>使能帧信息</source>
        <translation>Enable frame info</translation>
    </message>
    <message>
        <source>自定协议参数</source>
        <translation>Custom protocol parameters</translation>
    </message>
    <message>
        <source>帧头</source>
        <translation>Frame head</translation>
    </message>
    <message>
        <source>帧尾</source>
        <translation>Frame tail</translation>
    </message>
    <message>
        <source>透明带标识参数</source>
        <translation>Transparent with identifier parameters</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>位置</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>写入参数</source>
        <translation>Write parameters</translation>
    </message>
    <message>
        <source>设备滤波设置</source>
        <translation>Device filter settings</translation>
    </message>
    <message>
        <source>过滤器模式</source>
        <translation>Filter mode</translation>
    </message>
    <message>
        <source>配置串口参数</source>
        <translation>Configure serial parameters</translation>
    </message>
    <message>
        <source>OFF(接收所有数据)</source>
        <translation>OFF (receive all)</translation>
    </message>
    <message>
        <source>ETF(只接收扩展帧)</source>
        <translation>ETF (extended frames only)</translation>
    </message>
    <message>
        <source>NTF(只接收标准帧)</source>
        <translation>NTF (standard frames only)</translation>
    </message>
    <message>
        <source>USER(用户自定义)</source>
        <translation>USER (user defined)</translation>
    </message>
    <message>
        <source>模式设置</source>
        <translation>Set mode</translation>
    </message>
    <message>
        <source>类别</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>ID数据</source>
        <translation>ID data</translation>
    </message>
    <message>
        <source>添加信息</source>
        <translation>Add entry</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>清除列表</source>
        <translation>Clear list</translation>
    </message>
    <message>
        <source>serch_baud</source>
        <translation>Search baud rate</translation>
    </message>
    <message>
        <source>VelkoCAN模块设置软件 V1.5</source>
        <translation>VelkoCAN Module Configuration V1.5</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>你确定退出该软件?</source>
        <translation>Are you sure you want to exit?</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>DEC EX:2</source>
        <translation>DEC, e.g. 2</translation>
    </message>
    <message>
        <source>DEC EX:5</source>
        <translation>DEC, e.g. 5</translation>
    </message>
    <message>
        <source>HEX EX:A5</source>
        <translation>HEX, e.g. A5</translation>
    </message>
    <message>
        <source>关闭串口</source>
        <translation>Close port</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无效串口</source>
        <translation>Invalid serial port</translation>
    </message>
    <message>
        <source>串口打开失败</source>
        <translation>Failed to open the serial port</translation>
    </message>
    <message>
        <source>连接失败</source>
        <translation>Connection failed</translation>
    </message>
    <message>
        <source>设备无回复！请检查通讯参数！</source>
        <translation>The device does not answer! Please check the communication parameters!</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>已经达到最大条目!</source>
        <translation>The maximum number of entries has been reached!</translation>
    </message>
    <message>
        <source>请添加数据</source>
        <translation>Please add an entry first</translation>
    </message>
    <message>
        <source>类别设置错误! <byte value="xd"/>
即将恢复默认参数.</source>
        <translation>Invalid frame type! <byte value="xd"/>
The default value will be restored.</translation>
    </message>
    <message>
        <source>    ID错误! <byte value="xd"/>
即将恢复默认数据.</source>
        <translation>    Invalid ID! <byte value="xd"/>
The default value will be restored.</translation>
    </message>
    <message>
        <source>开始搜索：</source>
        <translation>Starting search:</translation>
    </message>
    <message>
        <source>Current serch baud: %1</source>
        <translation>Current search baud rate: %1</translation>
    </message>
    <message>
        <source>请以点击  &quot;连接设备&quot;  以搜索上来的  &quot;串口参数设置&quot;  为准！</source>
        <translation>Please click  &quot;Connect device&quot;  and rely on the  &quot;Serial parameter settings&quot;  it reads back!</translation>
    </message>
    <message>
        <source>参数搜索失败！</source>
        <translation>Parameter search failed!</translation>
    </message>
    <message>
        <source>请选择正确的串口号！<byte value="xd"/>
重启设备后！<byte value="xd"/>
点击&quot;Yes&quot;开始搜索波特率！</source>
        <translation>Please select the correct serial port!<byte value="xd"/>
Restart the device,<byte value="xd"/>
then click &quot;Yes&quot; to start the baud rate search!</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>打开配置…</source>
        <translation>Open configuration…</translation>
    </message>
    <message>
        <source>保存配置…</source>
        <translation>Save configuration…</translation>
    </message>
    <message>
        <source>保存日志…</source>
        <translation>Save log…</translation>
    </message>
    <message>
        <source>无法读取文件 %1</source>
        <translation>Cannot read the file %1</translation>
    </message>
    <message>
        <source>无法写入文件 %1</source>
        <translation>Cannot write the file %1</translation>
    </message>
    <message>
        <source>打开配置</source>
        <translation>Open configuration</translation>
    </message>
    <message>
        <source>配置文件 (*.json)</source>
        <translation>Configuration profiles (*.json)</translation>
    </message>
    <message>
        <source>保存配置</source>
        <translation>Save configuration</translation>
    </message>
    <message>
        <source>保存日志</source>
        <translation>Save log</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>停止搜索</source>
        <translation>Stop search</translation>
    </message>
    <message>
        <source>%1完成，%2 秒</source>
        <translation>%1 done, %2 s</translation>
    </message>
    <message>
        <source>%1已停止</source>
        <translation>%1 stopped</translation>
    </message>
    <message>
        <source>%1中断：串口已关闭</source>
        <translation>%1 cut short: the port closed</translation>
    </message>
    <message>
        <source>模块拒绝了这些命令：</source>
        <translation>The module refused these commands:</translation>
    </message>
    <message>
        <source>模块没有回复这些命令：</source>
        <translation>The module did not answer these commands:</translation>
    </message>
    <message>
        <source>读取</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>确定恢复出厂设置？模块的全部配置将丢失。</source>
        <translation>Restore the factory settings? The module&apos;s whole configuration will be lost.</translation>
    </message>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>快速通信</source>
        <translation>Fast exchange</translation>
    </message>
    <message>
        <source>按模块的回复掌握节奏，而不是固定的停顿和轮询</source>
        <translation>Pace the exchange by the module&apos;s replies instead of fixed pauses and polls</translation>
    </message>
    <message>
        <source>已打开配置：%1</source>
        <translation>Configuration opened: %1</translation>
    </message>
    <message>
        <source>已保存配置：%1</source>
        <translation>Configuration saved: %1</translation>
    </message>
    <message>
        <source>串口已打开：%1</source>
        <translation>Port opened: %1</translation>
    </message>
    <message>
        <source>串口已关闭：%1</source>
        <translation>Port closed: %1</translation>
    </message>
    <message>
        <source>尚未从该模块读取任何配置；要写入显示的值吗？</source>
        <translation>Nothing has been read from this module; write the values shown?</translation>
    </message>
    <message>
        <source>未从模块读取</source>
        <translation>Not read from the module</translation>
    </message>
    <message numerus="yes">
        <source>读取未完成：%n 个字段未读取</source>
        <translation>
            <numerusform>Read-back incomplete: %n field not read</numerusform>
            <numerusform>Read-back incomplete: %n fields not read</numerusform>
        </translation>
    </message>
    <message>
        <source>这些字段没有从模块读取：</source>
        <translation>These fields were not read from the module:</translation>
    </message>
    <message>
        <source>生产</source>
        <translation>Production</translation>
    </message>
    <message>
        <source>生产线…</source>
        <translation>Production line…</translation>
    </message>
    <message>
        <source>一个模块接一个模块地配置：每个治具一格，计数，开始和停止</source>
        <translation>Configure module after module: a tile per fixture, counters, start and stop</translation>
    </message>
    <message>
        <source>%1失败：模块在任何波特率下都没有应答，%2 秒</source>
        <translation>%1 failed: the module answered at no baud rate, %2 s</translation>
    </message>
    <message>
        <source>配置文件 %1 未被采用：
%2</source>
        <translation>Profile %1 not taken:
%2</translation>
    </message>
    <message>
        <source>扩展帧</source>
        <translation>an extended frame</translation>
    </message>
    <message>
        <source>标准帧</source>
        <translation>a standard frame</translation>
    </message>
    <message>
        <source>%1 的位数超过%2允许的 %3 位</source>
        <translation>%1 has more digits than the %3 that %2 takes</translation>
    </message>
    <message>
        <source>%1 不是十六进制数</source>
        <translation>%1 is not hexadecimal</translation>
    </message>
    <message>
        <source>%1 大于%2的上限 %3</source>
        <translation>%1 is above %3, the highest ID of %2</translation>
    </message>
    <message>
        <source>重新打开返回的串口</source>
        <translation>Reopen a returning port</translation>
    </message>
    <message>
        <source>适配器被拔出又插回时，按原来的参数重新打开它的串口；被中断的操作不会重做</source>
        <translation>When an adapter that was pulled out is plugged in again, its port is opened again at the line it had; the operation it cut is not repeated</translation>
    </message>
    <message>
        <source>串口 %1 已重新插入，已按原来的参数重新打开；被中断的操作不会重做</source>
        <translation>Port %1 is back and was opened again at the line it had; the operation that was cut is not repeated</translation>
    </message>
    <message>
        <source>串口已重新打开：%1</source>
        <translation>Port reopened: %1</translation>
    </message>
    <message>
        <source>串口 %1 已重新插入，但无法打开</source>
        <translation>Port %1 is back but cannot be opened</translation>
    </message>
    <message>
        <source>串口已重新插入，但无法打开：%1</source>
        <translation>Port back but cannot be opened: %1</translation>
    </message>
    <message>
        <source>通信</source>
        <translation>Traffic</translation>
    </message>
    <message>
        <source>通信窗口…</source>
        <translation>Traffic window…</translation>
    </message>
    <message>
        <source>模块在工作状态下的收发：串口的字节、CAN 总线的帧、通信测试和记录</source>
        <translation>The module&apos;s traffic in its working state: the serial line&apos;s bytes, the CAN bus&apos;s frames, the traffic check and the trace</translation>
    </message>
    <message>
        <source>请先打开模块的串口</source>
        <translation>Open the module&apos;s port first</translation>
    </message>
    <message>
        <source>模块没有进入工作状态：</source>
        <translation>The module did not go into its working state: </translation>
    </message>
</context>
<context>
    <name>SerialSocket</name>
    <message>
        <source>设备不存在</source>
        <translation>The device does not exist</translation>
    </message>
    <message>
        <source>设备连接出错：已有其他软件连接该设备</source>
        <translation>Connection error: another program is already connected to the device</translation>
    </message>
    <message>
        <source>设备打开出错</source>
        <translation>Error opening the device</translation>
    </message>
    <message>
        <source>设备通信写入发生错误：串口已关闭</source>
        <translation>Write error in device communication: serial port closed</translation>
    </message>
    <message>
        <source>设备通信读取发生错误：串口已关闭</source>
        <translation>Read error in device communication: serial port closed</translation>
    </message>
    <message>
        <source>设备已拔出：串口已关闭</source>
        <translation>Device unplugged: serial port closed</translation>
    </message>
    <message>
        <source>未知错误：错误码</source>
        <translation>Unknown error: error code </translation>
    </message>
</context>
<context>
    <name>StationWindow</name>
    <message>
        <source>VelkoCAN 生产线</source>
        <translation>VelkoCAN Production Line</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Setup</translation>
    </message>
    <message>
        <source>打开设置…</source>
        <translation>Open setup…</translation>
    </message>
    <message>
        <source>保存设置…</source>
        <translation>Save setup…</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>通过</source>
        <translation>Passed</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>剩余行</source>
        <translation>Rows left</translation>
    </message>
    <message>
        <source>模块/小时</source>
        <translation>Modules per hour</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>治具</source>
        <translation>Fixture</translation>
    </message>
    <message>
        <source>值</source>
        <translation>Values</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>生产线</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>浏览…</source>
        <translation>Browse…</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>Profile</translation>
    </message>
    <message>
        <source>配置文件 (*.json)</source>
        <translation>Profiles (*.json)</translation>
    </message>
    <message>
        <source>每个模块的值</source>
        <translation>Values per module</translation>
    </message>
    <message>
        <source>CSV 文件，或共享数据库 sqlite:路径 / postgresql://主机/数据库</source>
        <translation>A CSV file, or a shared ledger sqlite:PATH / postgresql://host/database</translation>
    </message>
    <message>
        <source>工位名称（数据库中）</source>
        <translation>Station name (in the ledger)</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>记录 (JSON Lines)</source>
        <translation>Report (JSON Lines)</translation>
    </message>
    <message>
        <source>记录文件 (*.jsonl)</source>
        <translation>Reports (*.jsonl)</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>添加治具</source>
        <translation>Add fixture</translation>
    </message>
    <message>
        <source>移除治具</source>
        <translation>Remove fixture</translation>
    </message>
    <message>
        <source>快速通信</source>
        <translation>Fast exchange</translation>
    </message>
    <message>
        <source>写入后重启模块</source>
        <translation>Restart the module after writing</translation>
    </message>
    <message>
        <source>不限</source>
        <translation>No limit</translation>
    </message>
    <message>
        <source>探测（每次探测都会让模块重新进入配置状态）</source>
        <translation>Probe (each probe puts the module back into its configuration state)</translation>
    </message>
    <message>
        <source>端口（适配器随模块一起拔下）</source>
        <translation>Port (the adapter is unplugged with the module)</translation>
    </message>
    <message>
        <source>操作员确认</source>
        <translation>The operator confirms</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>校验</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>停止位</source>
        <translation>Stop bits</translation>
    </message>
    <message>
        <source>模块数</source>
        <translation>Modules</translation>
    </message>
    <message>
        <source>取下模块</source>
        <translation>Module removal</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>%1 已经是一个治具</source>
        <translation>%1 is a fixture already</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>已打开设置：%1</source>
        <translation>Setup opened: %1</translation>
    </message>
    <message>
        <source>无法写入文件 %1</source>
        <translation>Cannot write the file %1</translation>
    </message>
    <message>
        <source>已保存设置：%1</source>
        <translation>Setup saved: %1</translation>
    </message>
    <message>
        <source>打开设置</source>
        <translation>Open setup</translation>
    </message>
    <message>
        <source>生产线设置 (*.json)</source>
        <translation>Production line setups (*.json)</translation>
    </message>
    <message>
        <source>保存设置</source>
        <translation>Save setup</translation>
    </message>
    <message>
        <source>治具 %1</source>
        <translation>Fixture %1</translation>
    </message>
    <message>
        <source>已取下，下一个</source>
        <translation>Taken off, next</translation>
    </message>
    <message>
        <source>等待模块</source>
        <translation>Waiting for a module</translation>
    </message>
    <message>
        <source>请先添加至少一个治具</source>
        <translation>Add at least one fixture first</translation>
    </message>
    <message>
        <source>未开始：%1</source>
        <translation>Not started: %1</translation>
    </message>
    <message>
        <source>生产线运行中</source>
        <translation>The line is running</translation>
    </message>
    <message>
        <source>正在停止：进行中的模块完成当前通信后停止</source>
        <translation>Stopping: the modules in progress stop after the exchange in progress</translation>
    </message>
    <message>
        <source>请取下模块</source>
        <translation>Take the module off</translation>
    </message>
    <message>
        <source>写入中</source>
        <translation>Writing</translation>
    </message>
    <message>
        <source>校验中</source>
        <translation>Verifying</translation>
    </message>
    <message>
        <source>重启中</source>
        <translation>Restarting</translation>
    </message>
    <message>
        <source>通信测试中</source>
        <translation>Checking the traffic</translation>
    </message>
    <message>
        <source>通信测试未通过</source>
        <translation>Traffic not within the limits</translation>
    </message>
    <message>
        <source>第 %1 步，共 %2 步：%3</source>
        <translation>Step %1 of %2: %3</translation>
    </message>
    <message>
        <source>工作中</source>
        <translation>Working</translation>
    </message>
    <message>
        <source>模块 %1 · 第 %2 行 · %3</source>
        <translation>Module %1 · row %2 · %3</translation>
    </message>
    <message>
        <source>模块 %1</source>
        <translation>Module %1</translation>
    </message>
    <message>
        <source>已写入，但模块的值不同</source>
        <translation>Written, but the module holds other values</translation>
    </message>
    <message>
        <source>中断</source>
        <translation>Cut short</translation>
    </message>
    <message>
        <source>无回复</source>
        <translation>No answer</translation>
    </message>
    <message>
        <source>被拒绝</source>
        <translation>Refused</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>连续 %1 次失败：请检查这个治具</source>
        <translation>%1 failures in a row: check this fixture</translation>
    </message>
    <message>
        <source>生产线已停止：%1</source>
        <translation>The line stopped: %1</translation>
    </message>
    <message>
        <source>记录无法保存，不再接收新的模块：
%1</source>
        <translation>A record cannot be kept; no further module is taken:
%1</translation>
    </message>
    <message>
        <source>生产线结束：%1 个通过，%2 个失败</source>
        <translation>The line ended: %1 passed, %2 failed</translation>
    </message>
    <message>
        <source>，剩余 %1 行</source>
        <translation>, %1 rows left</translation>
    </message>
    <message>
        <source>（记录无法保存：%1）</source>
        <translation> (a record could not be kept: %1)</translation>
    </message>
    <message>
        <source>（已停止）</source>
        <translation> (stopped)</translation>
    </message>
    <message>
        <source>生产线正在运行。停止并关闭？</source>
        <translation>The line is running. Stop it and close?</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>默认（探测）</source>
        <translation>Default (probe)</translation>
    </message>
    <message>
        <source>%1：模块将使用新的串口参数 %2，而工位使用 %3；模块只有重启后才报告新的串口参数，所以只能在重启后校验：请勾选“写入后重启模块”</source>
        <translation>%1: the modules would take the serial line %2, while the station talks at %3; a module reports a new line only once it restarted, so it can be checked only after a restart: tick “Restart the module after writing”</translation>
    </message>
    <message>
        <source>治具 %1 和 %2 是同一个设备 %3</source>
        <translation>Fixtures %1 and %2 are one device, %3</translation>
    </message>
    <message>
        <source>%1：模块在 %2 下没有回复（是否已上电？波特率搜索可以找到它的串口参数）</source>
        <translation>%1: the module does not answer at %2 (is it powered? A baud-rate search finds its line)</translation>
    </message>
    <message>
        <source>%1：没有这个台账（请先初始化台账）</source>
        <translation>%1: no such ledger (initialise the ledger first)</translation>
    </message>
    <message>
        <source>%1 不是台账（没有 ledger_schema 表）</source>
        <translation>%1 is not a ledger (no ledger_schema table)</translation>
    </message>
    <message>
        <source>治具 %1 添加了两次</source>
        <translation>Fixture %1 is added twice</translation>
    </message>
    <message>
        <source>%1 %2：允许 %3 到 %4</source>
        <translation>%1 %2: allowed %3 to %4</translation>
    </message>
    <message>
        <source>请先选择配置文件</source>
        <translation>Choose a profile first</translation>
    </message>
    <message>
        <source>未知结果：%1</source>
        <translation>Unknown result: %1</translation>
    </message>
    <message>
        <source>该行已被其他工位领取，模块未写入</source>
        <translation>The row went to another station; nothing was written to the module</translation>
    </message>
    <message>
        <source>重复：同一行的值也写入了另一个模块</source>
        <translation>Duplicate: the row&apos;s values are on another module too</translation>
    </message>
    <message>
        <source>工位名称“%1”：只允许一个由字母、数字、“.”、“_”和“-”组成的词，最多 64 个字符</source>
        <translation>Station name “%1”: allowed one word of letters, digits, “.”, “_” and “-”, at most 64 characters</translation>
    </message>
    <message>
        <source>没有记录文件：不会保存哪些行已经用过，下次启动会再次使用同样的值。仍然启动？</source>
        <translation>No report: nothing keeps which rows were used, and the next start gives the same values again. Start all the same?</translation>
    </message>
    <message>
        <source>没有这个适配器：%1</source>
        <translation>No such adapter: %1</translation>
    </message>
    <message>
        <source>没有这个端口</source>
        <translation>No such port</translation>
    </message>
    <message>
        <source>未开始</source>
        <translation>Not started</translation>
    </message>
    <message>
        <source>（端口被本程序的配置窗口占用：在配置窗口中按“关闭串口”即可释放）</source>
        <translation>(held by this program&apos;s configuration window: press &quot;Close port&quot; there to free it)</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>已结束</source>
        <translation>Ended</translation>
    </message>
    <message>
        <source>不检查（例如 socketcan:can0）</source>
        <translation>Not checked (e.g. socketcan:can0)</translation>
    </message>
    <message>
        <source>在此 CAN 接口上检查每个模块的转换（插件:接口），作为最后一步</source>
        <translation>Checks each module&apos;s conversion on this CAN interface (plugin:interface), as its last step</translation>
    </message>
    <message>
        <source>CAN 接口（检查转换）</source>
        <translation>CAN interface (conversion check)</translation>
    </message>
    <message>
        <source>延迟上限 </source>
        <translation>Latency limit </translation>
    </message>
</context>
<context>
    <name>TrafficWindow</name>
    <message>
        <source>VelkoCAN 通信窗口</source>
        <translation>VelkoCAN Traffic</translation>
    </message>
    <message>
        <source>测试中… %1/%2</source>
        <translation>Checking… %1/%2</translation>
    </message>
    <message>
        <source>串口已关闭</source>
        <translation>The port is closed</translation>
    </message>
    <message>
        <source>串口（模块的串口侧）</source>
        <translation>Serial line (the module&apos;s serial side)</translation>
    </message>
    <message>
        <source>CAN 总线</source>
        <translation>CAN bus</translation>
    </message>
    <message>
        <source>通信测试</source>
        <translation>Traffic check</translation>
    </message>
    <message>
        <source> 条/方向</source>
        <translation> each way</translation>
    </message>
    <message>
        <source>延迟上限 </source>
        <translation>Latency limit </translation>
    </message>
    <message>
        <source>测试通信</source>
        <translation>Check the traffic</translation>
    </message>
    <message>
        <source>双向各发送带序号的报文，统计丢失、损坏、乱序、意外的报文和延迟</source>
        <translation>Sends numbered messages each way and counts lost, corrupted, out-of-order and unexpected ones, and the latency</translation>
    </message>
    <message>
        <source>尚未测试</source>
        <translation>Not checked yet</translation>
    </message>
    <message>
        <source>保存记录…</source>
        <translation>Save trace…</translation>
    </message>
    <message>
        <source>CAN 侧存为 candump -L 格式，串口侧存为同名加 .serial 的文件</source>
        <translation>The CAN side in candump&apos;s -L format, the serial side in a file of the same name with .serial added</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>返回配置</source>
        <translation>Back to configuring</translation>
    </message>
    <message>
        <source>让模块回到配置状态并关闭本窗口</source>
        <translation>Puts the module back into its configuration state and closes this window</translation>
    </message>
    <message>
        <source>要发送的文本，或十六进制字节（01 A1 DE AD）</source>
        <translation>Text to send, or hex bytes (01 A1 DE AD)</translation>
    </message>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>不加行尾</source>
        <translation>No line end</translation>
    </message>
    <message>
        <source>重复发送，每</source>
        <translation>Repeat every</translation>
    </message>
    <message>
        <source>行尾</source>
        <translation>Line end</translation>
    </message>
    <message>
        <source>插件:接口，例如 socketcan:can0、virtualcan:tcp://127.0.0.1:35468/can0</source>
        <translation>PLUGIN:INTERFACE, e.g. socketcan:can0, virtualcan:tcp://127.0.0.1:35468/can0</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>接口</source>
        <translation>Interface</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>Dir</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>数据</source>
        <translation>Data</translation>
    </message>
    <message>
        <source>次数</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>扩展</source>
        <translation>extended</translation>
    </message>
    <message>
        <source>远程</source>
        <translation> remote</translation>
    </message>
    <message>
        <source>所有帧</source>
        <translation>All frames</translation>
    </message>
    <message>
        <source>每个 ID 的最新帧</source>
        <translation>Latest frame per ID</translation>
    </message>
    <message>
        <source>ID#数据，candump 的写法：123#DEADBEEF、1ABCDEF0#01、123#R</source>
        <translation>ID#DATA as candump writes it: 123#DEADBEEF, 1ABCDEF0#01, 123#R</translation>
    </message>
    <message>
        <source>发送帧</source>
        <translation>Send frame</translation>
    </message>
    <message>
        <source>通信窗口：读取模块的配置，然后让模块离开配置状态</source>
        <translation>Traffic window: reading the module&apos;s configuration, then the module leaves its configuration state</translation>
    </message>
    <message>
        <source>模块没有进入工作状态：%1</source>
        <translation>The module did not go into its working state: %1</translation>
    </message>
    <message>
        <source>模块处于工作状态；串口按模块的串口参数通信：%1 波特</source>
        <translation>The module is in its working state; the port talks at the module&apos;s serial line: %1 baud</translation>
    </message>
    <message>
        <source>模块：%1 模式，方向 %2，串口 %3 波特，CAN %4 kbit/s，%5 ID %6，过滤 %7</source>
        <translation>Module: mode %1, direction %2, serial %3 baud, CAN %4 kbit/s, %5 ID %6, filter %7</translation>
    </message>
    <message>
        <source>标准</source>
        <translation>standard</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>不是十六进制字节：%1</source>
        <translation>Not hex bytes: %1</translation>
    </message>
    <message>
        <source>没有发送：串口没有打开</source>
        <translation>Not sent: the port is not open</translation>
    </message>
    <message>
        <source>CAN 接口已断开</source>
        <translation>CAN interface disconnected</translation>
    </message>
    <message>
        <source>CAN 接口应写成 插件:接口，例如 virtualcan:can0</source>
        <translation>Name the CAN interface as PLUGIN:INTERFACE, e.g. virtualcan:can0</translation>
    </message>
    <message>
        <source>正在连接 %1…</source>
        <translation>Connecting %1…</translation>
    </message>
    <message>
        <source>CAN 接口没有打开</source>
        <translation>The CAN interface is not open</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>CAN 接口没有打开：</source>
        <translation>The CAN interface is not open: </translation>
    </message>
    <message>
        <source>已连接 %1</source>
        <translation>Connected to %1</translation>
    </message>
    <message>
        <source>不是一帧：%1（例如 123#DEADBEEF）</source>
        <translation>Not a frame: %1 (e.g. 123#DEADBEEF)</translation>
    </message>
    <message>
        <source>没有发送：CAN 接口没有连接或不接受这一帧</source>
        <translation>Not sent: the CAN interface is not connected or did not take the frame</translation>
    </message>
    <message>
        <source>测试中…</source>
        <translation>Checking…</translation>
    </message>
    <message>
        <source>无法测试：%1</source>
        <translation>Cannot check: %1</translation>
    </message>
    <message>
        <source>通过：在限值之内（无丢失、损坏、意外的报文，延迟不超过 %1 ms）</source>
        <translation>Passed: within the limits (nothing lost, corrupted or unexpected; latency at most %1 ms)</translation>
    </message>
    <message>
        <source>未通过：超出限值</source>
        <translation>Failed: not within the limits</translation>
    </message>
    <message>
        <source>未通过：没有任何数据通过模块</source>
        <translation>Failed: nothing came through the module</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>串口→CAN</source>
        <translation>serial→CAN</translation>
    </message>
    <message>
        <source>CAN→串口</source>
        <translation>CAN→serial</translation>
    </message>
    <message>
        <source>%1：发送 %2，收到 %3，丢失 %4，损坏 %5，乱序 %6，意外 %7，延迟中位 %8 ms，最大 %9 ms</source>
        <translation>%1: sent %2, received %3, lost %4, corrupted %5, out of order %6, unexpected %7, latency median %8 ms, max %9 ms</translation>
    </message>
    <message>
        <source>保存通信记录</source>
        <translation>Save the trace</translation>
    </message>
    <message>
        <source>candump 记录 (*.log);;所有文件 (*)</source>
        <translation>candump logs (*.log);;All files (*)</translation>
    </message>
    <message>
        <source>记录没有保存：</source>
        <translation>The trace was not saved: </translation>
    </message>
    <message>
        <source>记录已保存：%1 和 %2</source>
        <translation>Trace saved: %1 and %2</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>通信窗口关闭：模块回到配置状态</source>
        <translation>Traffic window closed: the module goes back into its configuration state</translation>
    </message>
    <message>
        <source>（只含最近的通信：较早的已在内存上限处丢弃）</source>
        <translation> (the newest traffic only: older lines were dropped at the memory limit)</translation>
    </message>
</context>
</TS>
