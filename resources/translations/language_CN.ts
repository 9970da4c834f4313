<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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
        <translation>串口设置</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;端口号&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;端口号&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;波特率&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;波特率&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;停止位&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;停止位&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;效验位&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;效验位&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>打开串口</translation>
    </message>
    <message>
        <source>波特率搜索</source>
        <translation>波特率搜索</translation>
    </message>
    <message>
        <source>连接设备</source>
        <translation>连接设备</translation>
    </message>
    <message>
        <source>退出配置</source>
        <translation>退出配置</translation>
    </message>
    <message>
        <source>恢复出厂配置</source>
        <translation>恢复出厂配置</translation>
    </message>
    <message>
        <source>重启设备</source>
        <translation>重启设备</translation>
    </message>
    <message>
        <source>写入配置</source>
        <translation>写入配置</translation>
    </message>
    <message>
        <source>串口参数设置</source>
        <translation>串口参数设置</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>波特率</translation>
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
        <translation>停止位</translation>
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
        <translation>校验位</translation>
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
        <translation>CAN总线设置</translation>
    </message>
    <message>
        <source>CAN波特率</source>
        <translation>CAN波特率</translation>
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
        <translation>帧类别</translation>
    </message>
    <message>
        <source>NDTF(标准帧)</source>
        <translation>NDTF(标准帧)</translation>
    </message>
    <message>
        <source>EDTF(扩展帧)</source>
        <translation>EDTF(扩展帧)</translation>
    </message>
    <message>
        <source>帧ID</source>
        <translation>帧ID</translation>
    </message>
    <message>
        <source>日志窗口</source>
        <translation>日志窗口</translation>
    </message>
    <message>
        <source>清空显示</source>
        <translation>清空显示</translation>
    </message>
    <message>
        <source>转换方向</source>
        <translation>转换方向</translation>
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
        <translation>双向</translation>
    </message>
    <message>
        <source>配置参数</source>
        <translation>配置参数</translation>
    </message>
    <message>
        <source>配置CAN参数</source>
        <translation>配置CAN参数</translation>
    </message>
    <message>
        <source>转换参数</source>
        <translation>转换参数</translation>
    </message>
    <message>
        <source>转换模式</source>
        <translation>转换模式</translation>
    </message>
    <message>
        <source>TRANS(透明模式)</source>
        <translation>TRANS(透明模式)</translation>
    </message>
    <message>
        <source>TPRTL(透明带标识模式)</source>
        <translation>TPRTL(透明带标识模式)</translation>
    </message>
    <message>
        <source>PROTOL(协议模式)</source>
        <translation>PROTOL(协议模式)</translation>
    </message>
    <message>
        <source>MODBUS(MODBUS模式)</source>
        <translation>MODBUS(MODBUS模式)</translation>
    </message>
    <message>
        <source>USER(自定义)</source>
        <translation>USER(自定义)</translation>
    </message>
    <message>
        <source>透明模式参数</source>
        <translation>透明模式参数</translation>
    </message>
    <message>
        <source>使能帧ID</source>
        <translation>使能帧ID</translation>
    </message>
    <message>
        <source>使能帧信息</source>
        <translation>使能帧信息</translation>
    </message>
    <message>
        <source>自定协议参数</source>
        <translation>自定协议参数</translation>
    </message>
    <message>
        <source>帧头</source>
        <translation>帧头</translation>
    </message>
    <message>
        <source>帧尾</source>
        <translation>帧尾</translation>
    </message>
    <message>
        <source>透明带标识参数</source>
        <translation>透明带标识参数</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>长度</translation>
    </message>
    <message>
        <source>位置</source>
        <translation>位置</translation>
    </message>
    <message>
        <source>写入参数</source>
        <translation>写入参数</translation>
    </message>
    <message>
        <source>设备滤波设置</source>
        <translation>设备滤波设置</translation>
    </message>
    <message>
        <source>过滤器模式</source>
        <translation>过滤器模式</translation>
    </message>
    <message>
        <source>配置串口参数</source>
        <translation>配置串口参数</translation>
    </message>
    <message>
        <source>OFF(接收所有数据)</source>
        <translation>OFF(接收所有数据)</translation>
    </message>
    <message>
        <source>ETF(只接收扩展帧)</source>
        <translation>ETF(只接收扩展帧)</translation>
    </message>
    <message>
        <source>NTF(只接收标准帧)</source>
        <translation>NTF(只接收标准帧)</translation>
    </message>
    <message>
        <source>USER(用户自定义)</source>
        <translation>USER(用户自定义)</translation>
    </message>
    <message>
        <source>模式设置</source>
        <translation>模式设置</translation>
    </message>
    <message>
        <source>类别</source>
        <translation>类别</translation>
    </message>
    <message>
        <source>ID数据</source>
        <translation>ID数据</translation>
    </message>
    <message>
        <source>添加信息</source>
        <translation>添加信息</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>写入</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>清除列表</source>
        <translation>清除列表</translation>
    </message>
    <message>
        <source>serch_baud</source>
        <translation>serch_baud</translation>
    </message>
    <message>
        <source>VelkoCAN模块设置软件 V1.5</source>
        <translation>VelkoCAN模块设置软件 V1.5</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>你确定退出该软件?</source>
        <translation>你确定退出该软件?</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>DEC EX:2</source>
        <translation>DEC EX:2</translation>
    </message>
    <message>
        <source>DEC EX:5</source>
        <translation>DEC EX:5</translation>
    </message>
    <message>
        <source>HEX EX:A5</source>
        <translation>HEX EX:A5</translation>
    </message>
    <message>
        <source>关闭串口</source>
        <translation>关闭串口</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>无效串口</source>
        <translation>无效串口</translation>
    </message>
    <message>
        <source>串口打开失败</source>
        <translation>串口打开失败</translation>
    </message>
    <message>
        <source>连接失败</source>
        <translation>连接失败</translation>
    </message>
    <message>
        <source>设备无回复！请检查通讯参数！</source>
        <translation>设备无回复！请检查通讯参数！</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>已经达到最大条目!</source>
        <translation>已经达到最大条目!</translation>
    </message>
    <message>
        <source>请添加数据</source>
        <translation>请添加数据</translation>
    </message>
    <message>
        <source>类别设置错误! <byte value="xd"/>
即将恢复默认参数.</source>
        <translation>类别设置错误! <byte value="xd"/>
即将恢复默认参数.</translation>
    </message>
    <message>
        <source>    ID错误! <byte value="xd"/>
即将恢复默认数据.</source>
        <translation>    ID错误! <byte value="xd"/>
即将恢复默认数据.</translation>
    </message>
    <message>
        <source>开始搜索：</source>
        <translation>开始搜索：</translation>
    </message>
    <message>
        <source>Current serch baud: %1</source>
        <translation>Current serch baud: %1</translation>
    </message>
    <message>
        <source>请以点击  &quot;连接设备&quot;  以搜索上来的  &quot;串口参数设置&quot;  为准！</source>
        <translation>请以点击  &quot;连接设备&quot;  以搜索上来的  &quot;串口参数设置&quot;  为准！</translation>
    </message>
    <message>
        <source>参数搜索失败！</source>
        <translation>参数搜索失败！</translation>
    </message>
    <message>
        <source>请选择正确的串口号！<byte value="xd"/>
重启设备后！<byte value="xd"/>
点击&quot;Yes&quot;开始搜索波特率！</source>
        <translation>请选择正确的串口号！<byte value="xd"/>
重启设备后！<byte value="xd"/>
点击&quot;Yes&quot;开始搜索波特率！</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>打开配置…</source>
        <translation>打开配置…</translation>
    </message>
    <message>
        <source>保存配置…</source>
        <translation>保存配置…</translation>
    </message>
    <message>
        <source>保存日志…</source>
        <translation>保存日志…</translation>
    </message>
    <message>
        <source>无法读取文件 %1</source>
        <translation>无法读取文件 %1</translation>
    </message>
    <message>
        <source>无法写入文件 %1</source>
        <translation>无法写入文件 %1</translation>
    </message>
    <message>
        <source>打开配置</source>
        <translation>打开配置</translation>
    </message>
    <message>
        <source>配置文件 (*.json)</source>
        <translation>配置文件 (*.json)</translation>
    </message>
    <message>
        <source>保存配置</source>
        <translation>保存配置</translation>
    </message>
    <message>
        <source>保存日志</source>
        <translation>保存日志</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>停止搜索</source>
        <translation>停止搜索</translation>
    </message>
    <message>
        <source>%1完成，%2 秒</source>
        <translation>%1完成，%2 秒</translation>
    </message>
    <message>
        <source>%1已停止</source>
        <translation>%1已停止</translation>
    </message>
    <message>
        <source>%1中断：串口已关闭</source>
        <translation>%1中断：串口已关闭</translation>
    </message>
    <message>
        <source>模块拒绝了这些命令：</source>
        <translation>模块拒绝了这些命令：</translation>
    </message>
    <message>
        <source>模块没有回复这些命令：</source>
        <translation>模块没有回复这些命令：</translation>
    </message>
    <message>
        <source>读取</source>
        <translation>读取</translation>
    </message>
    <message>
        <source>确定恢复出厂设置？模块的全部配置将丢失。</source>
        <translation>确定恢复出厂设置？模块的全部配置将丢失。</translation>
    </message>
    <message>
        <source>选项</source>
        <translation>选项</translation>
    </message>
    <message>
        <source>快速通信</source>
        <translation>快速通信</translation>
    </message>
    <message>
        <source>按模块的回复掌握节奏，而不是固定的停顿和轮询</source>
        <translation>按模块的回复掌握节奏，而不是固定的停顿和轮询</translation>
    </message>
    <message>
        <source>已打开配置：%1</source>
        <translation>已打开配置：%1</translation>
    </message>
    <message>
        <source>已保存配置：%1</source>
        <translation>已保存配置：%1</translation>
    </message>
    <message>
        <source>串口已打开：%1</source>
        <translation>串口已打开：%1</translation>
    </message>
    <message>
        <source>串口已关闭：%1</source>
        <translation>串口已关闭：%1</translation>
    </message>
    <message>
        <source>尚未从该模块读取任何配置；要写入显示的值吗？</source>
        <translation>尚未从该模块读取任何配置；要写入显示的值吗？</translation>
    </message>
    <message>
        <source>未从模块读取</source>
        <translation>未从模块读取</translation>
    </message>
    <message numerus="yes">
        <source>读取未完成：%n 个字段未读取</source>
        <translation>
            <numerusform>读取未完成：%n 个字段未读取</numerusform>
        </translation>
    </message>
    <message>
        <source>这些字段没有从模块读取：</source>
        <translation>这些字段没有从模块读取：</translation>
    </message>
    <message>
        <source>生产</source>
        <translation>生产</translation>
    </message>
    <message>
        <source>生产线…</source>
        <translation>生产线…</translation>
    </message>
    <message>
        <source>一个模块接一个模块地配置：每个治具一格，计数，开始和停止</source>
        <translation>一个模块接一个模块地配置：每个治具一格，计数，开始和停止</translation>
    </message>
    <message>
        <source>%1失败：模块在任何波特率下都没有应答，%2 秒</source>
        <translation>%1失败：模块在任何波特率下都没有应答，%2 秒</translation>
    </message>
    <message>
        <source>配置文件 %1 未被采用：
%2</source>
        <translation>配置文件 %1 未被采用：
%2</translation>
    </message>
    <message>
        <source>扩展帧</source>
        <translation>扩展帧</translation>
    </message>
    <message>
        <source>标准帧</source>
        <translation>标准帧</translation>
    </message>
    <message>
        <source>%1 的位数超过%2允许的 %3 位</source>
        <translation>%1 的位数超过%2允许的 %3 位</translation>
    </message>
    <message>
        <source>%1 不是十六进制数</source>
        <translation>%1 不是十六进制数</translation>
    </message>
    <message>
        <source>%1 大于%2的上限 %3</source>
        <translation>%1 大于%2的上限 %3</translation>
    </message>
    <message>
        <source>重新打开返回的串口</source>
        <translation>重新打开返回的串口</translation>
    </message>
    <message>
        <source>适配器被拔出又插回时，按原来的参数重新打开它的串口；被中断的操作不会重做</source>
        <translation>适配器被拔出又插回时，按原来的参数重新打开它的串口；被中断的操作不会重做</translation>
    </message>
    <message>
        <source>串口 %1 已重新插入，已按原来的参数重新打开；被中断的操作不会重做</source>
        <translation>串口 %1 已重新插入，已按原来的参数重新打开；被中断的操作不会重做</translation>
    </message>
    <message>
        <source>串口已重新打开：%1</source>
        <translation>串口已重新打开：%1</translation>
    </message>
    <message>
        <source>串口 %1 已重新插入，但无法打开</source>
        <translation>串口 %1 已重新插入，但无法打开</translation>
    </message>
    <message>
        <source>串口已重新插入，但无法打开：%1</source>
        <translation>串口已重新插入，但无法打开：%1</translation>
    </message>
    <message>
        <source>通信</source>
        <translation>通信</translation>
    </message>
    <message>
        <source>通信窗口…</source>
        <translation>通信窗口…</translation>
    </message>
    <message>
        <source>模块在工作状态下的收发：串口的字节、CAN 总线的帧、通信测试和记录</source>
        <translation>模块在工作状态下的收发：串口的字节、CAN 总线的帧、通信测试和记录</translation>
    </message>
    <message>
        <source>请先打开模块的串口</source>
        <translation>请先打开模块的串口</translation>
    </message>
    <message>
        <source>模块没有进入工作状态：</source>
        <translation>模块没有进入工作状态：</translation>
    </message>
</context>
<context>
    <name>SerialSocket</name>
    <message>
        <source>设备不存在</source>
        <translation>设备不存在</translation>
    </message>
    <message>
        <source>设备连接出错：已有其他软件连接该设备</source>
        <translation>设备连接出错：已有其他软件连接该设备</translation>
    </message>
    <message>
        <source>设备打开出错</source>
        <translation>设备打开出错</translation>
    </message>
    <message>
        <source>设备通信写入发生错误：串口已关闭</source>
        <translation>设备通信写入发生错误：串口已关闭</translation>
    </message>
    <message>
        <source>设备通信读取发生错误：串口已关闭</source>
        <translation>设备通信读取发生错误：串口已关闭</translation>
    </message>
    <message>
        <source>设备已拔出：串口已关闭</source>
        <translation>设备已拔出：串口已关闭</translation>
    </message>
    <message>
        <source>未知错误：错误码</source>
        <translation>未知错误：错误码</translation>
    </message>
</context>
<context>
    <name>StationWindow</name>
    <message>
        <source>VelkoCAN 生产线</source>
        <translation>VelkoCAN 生产线</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>打开设置…</source>
        <translation>打开设置…</translation>
    </message>
    <message>
        <source>保存设置…</source>
        <translation>保存设置…</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>开始</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>通过</source>
        <translation>通过</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>剩余行</source>
        <translation>剩余行</translation>
    </message>
    <message>
        <source>模块/小时</source>
        <translation>模块/小时</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>治具</source>
        <translation>治具</translation>
    </message>
    <message>
        <source>值</source>
        <translation>值</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>生产线</source>
        <translation>生产线</translation>
    </message>
    <message>
        <source>浏览…</source>
        <translation>浏览…</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>配置文件</translation>
    </message>
    <message>
        <source>配置文件 (*.json)</source>
        <translation>配置文件 (*.json)</translation>
    </message>
    <message>
        <source>每个模块的值</source>
        <translation>每个模块的值</translation>
    </message>
    <message>
        <source>CSV 文件，或共享数据库 sqlite:路径 / postgresql://主机/数据库</source>
        <translation>CSV 文件，或共享数据库 sqlite:路径 / postgresql://主机/数据库</translation>
    </message>
    <message>
        <source>工位名称（数据库中）</source>
        <translation>工位名称（数据库中）</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>记录 (JSON Lines)</source>
        <translation>记录 (JSON Lines)</translation>
    </message>
    <message>
        <source>记录文件 (*.jsonl)</source>
        <translation>记录文件 (*.jsonl)</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>添加治具</source>
        <translation>添加治具</translation>
    </message>
    <message>
        <source>移除治具</source>
        <translation>移除治具</translation>
    </message>
    <message>
        <source>快速通信</source>
        <translation>快速通信</translation>
    </message>
    <message>
        <source>写入后重启模块</source>
        <translation>写入后重启模块</translation>
    </message>
    <message>
        <source>不限</source>
        <translation>不限</translation>
    </message>
    <message>
        <source>探测（每次探测都会让模块重新进入配置状态）</source>
        <translation>探测（每次探测都会让模块重新进入配置状态）</translation>
    </message>
    <message>
        <source>端口（适配器随模块一起拔下）</source>
        <translation>端口（适配器随模块一起拔下）</translation>
    </message>
    <message>
        <source>操作员确认</source>
        <translation>操作员确认</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>校验</source>
        <translation>校验</translation>
    </message>
    <message>
        <source>停止位</source>
        <translation>停止位</translation>
    </message>
    <message>
        <source>模块数</source>
        <translation>模块数</translation>
    </message>
    <message>
        <source>取下模块</source>
        <translation>取下模块</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>%1 已经是一个治具</source>
        <translation>%1 已经是一个治具</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>已打开设置：%1</source>
        <translation>已打开设置：%1</translation>
    </message>
    <message>
        <source>无法写入文件 %1</source>
        <translation>无法写入文件 %1</translation>
    </message>
    <message>
        <source>已保存设置：%1</source>
        <translation>已保存设置：%1</translation>
    </message>
    <message>
        <source>打开设置</source>
        <translation>打开设置</translation>
    </message>
    <message>
        <source>生产线设置 (*.json)</source>
        <translation>生产线设置 (*.json)</translation>
    </message>
    <message>
        <source>保存设置</source>
        <translation>保存设置</translation>
    </message>
    <message>
        <source>治具 %1</source>
        <translation>治具 %1</translation>
    </message>
    <message>
        <source>已取下，下一个</source>
        <translation>已取下，下一个</translation>
    </message>
    <message>
        <source>等待模块</source>
        <translation>等待模块</translation>
    </message>
    <message>
        <source>请先添加至少一个治具</source>
        <translation>请先添加至少一个治具</translation>
    </message>
    <message>
        <source>未开始：%1</source>
        <translation>未开始：%1</translation>
    </message>
    <message>
        <source>生产线运行中</source>
        <translation>生产线运行中</translation>
    </message>
    <message>
        <source>正在停止：进行中的模块完成当前通信后停止</source>
        <translation>正在停止：进行中的模块完成当前通信后停止</translation>
    </message>
    <message>
        <source>请取下模块</source>
        <translation>请取下模块</translation>
    </message>
    <message>
        <source>写入中</source>
        <translation>写入中</translation>
    </message>
    <message>
        <source>校验中</source>
        <translation>校验中</translation>
    </message>
    <message>
        <source>重启中</source>
        <translation>重启中</translation>
    </message>
    <message>
        <source>通信测试中</source>
        <translation>通信测试中</translation>
    </message>
    <message>
        <source>通信测试未通过</source>
        <translation>通信测试未通过</translation>
    </message>
    <message>
        <source>第 %1 步，共 %2 步：%3</source>
        <translation>第 %1 步，共 %2 步：%3</translation>
    </message>
    <message>
        <source>工作中</source>
        <translation>工作中</translation>
    </message>
    <message>
        <source>模块 %1 · 第 %2 行 · %3</source>
        <translation>模块 %1 · 第 %2 行 · %3</translation>
    </message>
    <message>
        <source>模块 %1</source>
        <translation>模块 %1</translation>
    </message>
    <message>
        <source>已写入，但模块的值不同</source>
        <translation>已写入，但模块的值不同</translation>
    </message>
    <message>
        <source>中断</source>
        <translation>中断</translation>
    </message>
    <message>
        <source>无回复</source>
        <translation>无回复</translation>
    </message>
    <message>
        <source>被拒绝</source>
        <translation>被拒绝</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 秒</translation>
    </message>
    <message>
        <source>连续 %1 次失败：请检查这个治具</source>
        <translation>连续 %1 次失败：请检查这个治具</translation>
    </message>
    <message>
        <source>生产线已停止：%1</source>
        <translation>生产线已停止：%1</translation>
    </message>
    <message>
        <source>记录无法保存，不再接收新的模块：
%1</source>
        <translation>记录无法保存，不再接收新的模块：
%1</translation>
    </message>
    <message>
        <source>生产线结束：%1 个通过，%2 个失败</source>
        <translation>生产线结束：%1 个通过，%2 个失败</translation>
    </message>
    <message>
        <source>，剩余 %1 行</source>
        <translation>，剩余 %1 行</translation>
    </message>
    <message>
        <source>（记录无法保存：%1）</source>
        <translation>（记录无法保存：%1）</translation>
    </message>
    <message>
        <source>（已停止）</source>
        <translation>（已停止）</translation>
    </message>
    <message>
        <source>生产线正在运行。停止并关闭？</source>
        <translation>生产线正在运行。停止并关闭？</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>默认（探测）</source>
        <translation>默认（探测）</translation>
    </message>
    <message>
        <source>%1：模块将使用新的串口参数 %2，而工位使用 %3；模块只有重启后才报告新的串口参数，所以只能在重启后校验：请勾选“写入后重启模块”</source>
        <translation>%1：模块将使用新的串口参数 %2，而工位使用 %3；模块只有重启后才报告新的串口参数，所以只能在重启后校验：请勾选“写入后重启模块”</translation>
    </message>
    <message>
        <source>治具 %1 和 %2 是同一个设备 %3</source>
        <translation>治具 %1 和 %2 是同一个设备 %3</translation>
    </message>
    <message>
        <source>%1：模块在 %2 下没有回复（是否已上电？波特率搜索可以找到它的串口参数）</source>
        <translation>%1：模块在 %2 下没有回复（是否已上电？波特率搜索可以找到它的串口参数）</translation>
    </message>
    <message>
        <source>%1：没有这个台账（请先初始化台账）</source>
        <translation>%1：没有这个台账（请先初始化台账）</translation>
    </message>
    <message>
        <source>%1 不是台账（没有 ledger_schema 表）</source>
        <translation>%1 不是台账（没有 ledger_schema 表）</translation>
    </message>
    <message>
        <source>治具 %1 添加了两次</source>
        <translation>治具 %1 添加了两次</translation>
    </message>
    <message>
        <source>%1 %2：允许 %3 到 %4</source>
        <translation>%1 %2：允许 %3 到 %4</translation>
    </message>
    <message>
        <source>请先选择配置文件</source>
        <translation>请先选择配置文件</translation>
    </message>
    <message>
        <source>未知结果：%1</source>
        <translation>未知结果：%1</translation>
    </message>
    <message>
        <source>该行已被其他工位领取，模块未写入</source>
        <translation>该行已被其他工位领取，模块未写入</translation>
    </message>
    <message>
        <source>重复：同一行的值也写入了另一个模块</source>
        <translation>重复：同一行的值也写入了另一个模块</translation>
    </message>
    <message>
        <source>工位名称“%1”：只允许一个由字母、数字、“.”、“_”和“-”组成的词，最多 64 个字符</source>
        <translation>工位名称“%1”：只允许一个由字母、数字、“.”、“_”和“-”组成的词，最多 64 个字符</translation>
    </message>
    <message>
        <source>没有记录文件：不会保存哪些行已经用过，下次启动会再次使用同样的值。仍然启动？</source>
        <translation>没有记录文件：不会保存哪些行已经用过，下次启动会再次使用同样的值。仍然启动？</translation>
    </message>
    <message>
        <source>没有这个适配器：%1</source>
        <translation>没有这个适配器：%1</translation>
    </message>
    <message>
        <source>没有这个端口</source>
        <translation>没有这个端口</translation>
    </message>
    <message>
        <source>未开始</source>
        <translation>未开始</translation>
    </message>
    <message>
        <source>（端口被本程序的配置窗口占用：在配置窗口中按“关闭串口”即可释放）</source>
        <translation>（端口被本程序的配置窗口占用：在配置窗口中按“关闭串口”即可释放）</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>已停止</translation>
    </message>
    <message>
        <source>已结束</source>
        <translation>已结束</translation>
    </message>
    <message>
        <source>不检查（例如 socketcan:can0）</source>
        <translation>不检查（例如 socketcan:can0）</translation>
    </message>
    <message>
        <source>在此 CAN 接口上检查每个模块的转换（插件:接口），作为最后一步</source>
        <translation>在此 CAN 接口上检查每个模块的转换（插件:接口），作为最后一步</translation>
    </message>
    <message>
        <source>CAN 接口（检查转换）</source>
        <translation>CAN 接口（检查转换）</translation>
    </message>
    <message>
        <source>延迟上限 </source>
        <translation>延迟上限 </translation>
    </message>
</context>
<context>
    <name>TrafficWindow</name>
    <message>
        <source>VelkoCAN 通信窗口</source>
        <translation>VelkoCAN 通信窗口</translation>
    </message>
    <message>
        <source>测试中… %1/%2</source>
        <translation>测试中… %1/%2</translation>
    </message>
    <message>
        <source>串口已关闭</source>
        <translation>串口已关闭</translation>
    </message>
    <message>
        <source>串口（模块的串口侧）</source>
        <translation>串口（模块的串口侧）</translation>
    </message>
    <message>
        <source>CAN 总线</source>
        <translation>CAN 总线</translation>
    </message>
    <message>
        <source>通信测试</source>
        <translation>通信测试</translation>
    </message>
    <message>
        <source> 条/方向</source>
        <translation> 条/方向</translation>
    </message>
    <message>
        <source>延迟上限 </source>
        <translation>延迟上限 </translation>
    </message>
    <message>
        <source>测试通信</source>
        <translation>测试通信</translation>
    </message>
    <message>
        <source>双向各发送带序号的报文，统计丢失、损坏、乱序、意外的报文和延迟</source>
        <translation>双向各发送带序号的报文，统计丢失、损坏、乱序、意外的报文和延迟</translation>
    </message>
    <message>
        <source>尚未测试</source>
        <translation>尚未测试</translation>
    </message>
    <message>
        <source>保存记录…</source>
        <translation>保存记录…</translation>
    </message>
    <message>
        <source>CAN 侧存为 candump -L 格式，串口侧存为同名加 .serial 的文件</source>
        <translation>CAN 侧存为 candump -L 格式，串口侧存为同名加 .serial 的文件</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>返回配置</source>
        <translation>返回配置</translation>
    </message>
    <message>
        <source>让模块回到配置状态并关闭本窗口</source>
        <translation>让模块回到配置状态并关闭本窗口</translation>
    </message>
    <message>
        <source>要发送的文本，或十六进制字节（01 A1 DE AD）</source>
        <translation>要发送的文本，或十六进制字节（01 A1 DE AD）</translation>
    </message>
    <message>
        <source>十六进制</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>不加行尾</source>
        <translation>不加行尾</translation>
    </message>
    <message>
        <source>重复发送，每</source>
        <translation>重复发送，每</translation>
    </message>
    <message>
        <source>行尾</source>
        <translation>行尾</translation>
    </message>
    <message>
        <source>插件:接口，例如 socketcan:can0、virtualcan:tcp://127.0.0.1:35468/can0</source>
        <translation>插件:接口，例如 socketcan:can0、virtualcan:tcp://127.0.0.1:35468/can0</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>接口</source>
        <translation>接口</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>方向</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>长度</translation>
    </message>
    <message>
        <source>数据</source>
        <translation>数据</translation>
    </message>
    <message>
        <source>次数</source>
        <translation>次数</translation>
    </message>
    <message>
        <source>扩展</source>
        <translation>扩展</translation>
    </message>
    <message>
        <source>远程</source>
        <translation>远程</translation>
    </message>
    <message>
        <source>所有帧</source>
        <translation>所有帧</translation>
    </message>
    <message>
        <source>每个 ID 的最新帧</source>
        <translation>每个 ID 的最新帧</translation>
    </message>
    <message>
        <source>ID#数据，candump 的写法：123#DEADBEEF、1ABCDEF0#01、123#R</source>
        <translation>ID#数据，candump 的写法：123#DEADBEEF、1ABCDEF0#01、123#R</translation>
    </message>
    <message>
        <source>发送帧</source>
        <translation>发送帧</translation>
    </message>
    <message>
        <source>通信窗口：读取模块的配置，然后让模块离开配置状态</source>
        <translation>通信窗口：读取模块的配置，然后让模块离开配置状态</translation>
    </message>
    <message>
        <source>模块没有进入工作状态：%1</source>
        <translation>模块没有进入工作状态：%1</translation>
    </message>
    <message>
        <source>模块处于工作状态；串口按模块的串口参数通信：%1 波特</source>
        <translation>模块处于工作状态；串口按模块的串口参数通信：%1 波特</translation>
    </message>
    <message>
        <source>模块：%1 模式，方向 %2，串口 %3 波特，CAN %4 kbit/s，%5 ID %6，过滤 %7</source>
        <translation>模块：%1 模式，方向 %2，串口 %3 波特，CAN %4 kbit/s，%5 ID %6，过滤 %7</translation>
    </message>
    <message>
        <source>标准</source>
        <translation>标准</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>不是十六进制字节：%1</source>
        <translation>不是十六进制字节：%1</translation>
    </message>
    <message>
        <source>没有发送：串口没有打开</source>
        <translation>没有发送：串口没有打开</translation>
    </message>
    <message>
        <source>CAN 接口已断开</source>
        <translation>CAN 接口已断开</translation>
    </message>
    <message>
        <source>CAN 接口应写成 插件:接口，例如 virtualcan:can0</source>
        <translation>CAN 接口应写成 插件:接口，例如 virtualcan:can0</translation>
    </message>
    <message>
        <source>正在连接 %1…</source>
        <translation>正在连接 %1…</translation>
    </message>
    <message>
        <source>CAN 接口没有打开</source>
        <translation>CAN 接口没有打开</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>CAN 接口没有打开：</source>
        <translation>CAN 接口没有打开：</translation>
    </message>
    <message>
        <source>已连接 %1</source>
        <translation>已连接 %1</translation>
    </message>
    <message>
        <source>不是一帧：%1（例如 123#DEADBEEF）</source>
        <translation>不是一帧：%1（例如 123#DEADBEEF）</translation>
    </message>
    <message>
        <source>没有发送：CAN 接口没有连接或不接受这一帧</source>
        <translation>没有发送：CAN 接口没有连接或不接受这一帧</translation>
    </message>
    <message>
        <source>测试中…</source>
        <translation>测试中…</translation>
    </message>
    <message>
        <source>无法测试：%1</source>
        <translation>无法测试：%1</translation>
    </message>
    <message>
        <source>通过：在限值之内（无丢失、损坏、意外的报文，延迟不超过 %1 ms）</source>
        <translation>通过：在限值之内（无丢失、损坏、意外的报文，延迟不超过 %1 ms）</translation>
    </message>
    <message>
        <source>未通过：超出限值</source>
        <translation>未通过：超出限值</translation>
    </message>
    <message>
        <source>未通过：没有任何数据通过模块</source>
        <translation>未通过：没有任何数据通过模块</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>已停止</translation>
    </message>
    <message>
        <source>串口→CAN</source>
        <translation>串口→CAN</translation>
    </message>
    <message>
        <source>CAN→串口</source>
        <translation>CAN→串口</translation>
    </message>
    <message>
        <source>%1：发送 %2，收到 %3，丢失 %4，损坏 %5，乱序 %6，意外 %7，延迟中位 %8 ms，最大 %9 ms</source>
        <translation>%1：发送 %2，收到 %3，丢失 %4，损坏 %5，乱序 %6，意外 %7，延迟中位 %8 ms，最大 %9 ms</translation>
    </message>
    <message>
        <source>保存通信记录</source>
        <translation>保存通信记录</translation>
    </message>
    <message>
        <source>candump 记录 (*.log);;所有文件 (*)</source>
        <translation>candump 记录 (*.log);;所有文件 (*)</translation>
    </message>
    <message>
        <source>记录没有保存：</source>
        <translation>记录没有保存：</translation>
    </message>
    <message>
        <source>记录已保存：%1 和 %2</source>
        <translation>记录已保存：%1 和 %2</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>断开</translation>
    </message>
    <message>
        <source>通信窗口关闭：模块回到配置状态</source>
        <translation>通信窗口关闭：模块回到配置状态</translation>
    </message>
    <message>
        <source>（只含最近的通信：较早的已在内存上限处丢弃）</source>
        <translation>（只含最近的通信：较早的已在内存上限处丢弃）</translation>
    </message>
</context>
</TS>
