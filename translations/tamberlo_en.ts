<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>DeviceType</name>
    <message>
        <source>未知器件</source>
        <translation>Unknown device</translation>
    </message>
</context>
<context>
    <name>Form1</name>
    <message>
        <source>当前载入的文件</source>
        <translation>Loaded file</translation>
    </message>
    <message>
        <source>声音输出</source>
        <translation>Sound output</translation>
    </message>
    <message>
        <source>串口号：</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>文件长度：</source>
        <translation>File length:</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>ISD操作1</source>
        <translation>ISD ops 1</translation>
    </message>
    <message>
        <source>读播放地址</source>
        <translation>Read play pointer</translation>
    </message>
    <message>
        <source>读录音地址</source>
        <translation>Read record pointer</translation>
    </message>
    <message>
        <source>设置播放地址</source>
        <translation>Set play range</translation>
    </message>
    <message>
        <source>设置录音地址</source>
        <translation>Set record range</translation>
    </message>
    <message>
        <source>设置擦除地址</source>
        <translation>Set erase range</translation>
    </message>
    <message>
        <source>ISD操作2</source>
        <translation>ISD ops 2</translation>
    </message>
    <message>
        <source>当前地址</source>
        <translation>Current row</translation>
    </message>
    <message>
        <source>播    放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>停    止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>录    音</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>下 一 段</source>
        <translation>Next msg</translation>
    </message>
    <message>
        <source>擦除当前</source>
        <translation>Erase msg</translation>
    </message>
    <message>
        <source>擦除全部</source>
        <translation>Erase all</translation>
    </message>
    <message>
        <source>音源</source>
        <translation>Input</translation>
    </message>
    <message>
        <source>监听</source>
        <translation>Monitor</translation>
    </message>
    <message>
        <source>SPK</source>
        <translation>SPK</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>1器件复位</source>
        <translation>1 Reset</translation>
    </message>
    <message>
        <source>2器件上电</source>
        <translation>2 Power</translation>
    </message>
    <message>
        <source>3器件ID</source>
        <translation>3 Dev ID</translation>
    </message>
    <message>
        <source>提示：打开串口后，依次点击 1器件复位、2器件上电、3器件ID。</source>
        <translation>Tip: open the port, then click 1 Reset, 2 Power and 3 Dev ID in turn.</translation>
    </message>
</context>
<context>
    <name>PortResolver</name>
    <message>
        <source>没有填写串口号</source>
        <translation>no port number given</translation>
    </message>
    <message>
        <source>“%1”不是整数</source>
        <translation>&quot;%1&quot; is not a whole number</translation>
    </message>
    <message>
        <source>“%1”超出串口号的范围（-32768 到 32767）</source>
        <translation>&quot;%1&quot; is outside the range of port numbers (-32768 to 32767)</translation>
    </message>
    <message>
        <source>链接指向的设备不存在</source>
        <translation>the device the link points to does not exist</translation>
    </message>
    <message>
        <source>串口号须大于 0</source>
        <translation>the port number must be greater than 0</translation>
    </message>
    <message>
        <source>当前不存在</source>
        <translation>not present now</translation>
    </message>
    <message>
        <source>本机现有 %1 个串口设备</source>
        <translation>serial devices on this computer: %1</translation>
    </message>
    <message>
        <source>串口 %1：没有对应的设备（%2）</source>
        <translation>Port %1: no device (%2)</translation>
    </message>
    <message>
        <source>串口 %1：%2 指向的 %3 不存在</source>
        <translation>Port %1: %3, where %2 points, does not exist</translation>
    </message>
    <message>
        <source>串口 %1：%2（经由 %3）</source>
        <translation>Port %1: %2 (through %3)</translation>
    </message>
    <message>
        <source>串口 %1：%2</source>
        <translation>Port %1: %2</translation>
    </message>
    <message>
        <source>串口 %1：%2（%3）</source>
        <translation>Port %1: %2 (%3)</translation>
    </message>
</context>
<context>
    <name>tamberlo::AudioOutputs</name>
    <message>
        <source>没有可用的声音输出（没有声卡或声音服务器）</source>
        <translation>No sound output is available (no sound card or sound server)</translation>
    </message>
    <message>
        <source>声音输出 %1 不存在</source>
        <translation>The sound output %1 does not exist</translation>
    </message>
</context>
<context>
    <name>tamberlo::AudioOutputBox</name>
    <message>
        <source>默认输出</source>
        <translation>Default output</translation>
    </message>
    <message>
        <source>默认输出（%1）</source>
        <translation>Default output (%1)</translation>
    </message>
    <message>
        <source>声音服务器的默认输出</source>
        <translation>The sound server&apos;s default output</translation>
    </message>
    <message>
        <source>%1（未连接）</source>
        <translation>%1 (not connected)</translation>
    </message>
</context>
<context>
    <name>tamberlo::AudioSource</name>
    <message>
        <source>请选择音频文件</source>
        <translation>Choose an audio file</translation>
    </message>
    <message>
        <source>音频文件 (*.mp3)</source>
        <translation>MP3 audio files (*.mp3)</translation>
    </message>
    <message>
        <source>动画文件 (*.wav)</source>
        <translation>WAV audio files (*.wav)</translation>
    </message>
    <message>
        <source>所有文件 (*.*)</source>
        <translation>All files (*.*)</translation>
    </message>
    <message>
        <source>请先选择音频文件</source>
        <translation>Please choose an audio file first</translation>
    </message>
    <message>
        <source>无法打开音频文件：%1
%2</source>
        <translation>Cannot open the audio file %1
%2</translation>
    </message>
    <message>
        <source>无法读取音频文件的长度：%1</source>
        <translation>Cannot read the length of the audio file %1</translation>
    </message>
    <message>
        <source>默认声音输出</source>
        <translation>the default sound output</translation>
    </message>
    <message>
        <source>没有声音输出：%1 不能播放，芯片录不到音频文件。
%2
没有发送任何命令。</source>
        <translation>No sound output: %1 cannot play, so the chip would not hear the audio file.
%2
Nothing was sent.</translation>
    </message>
    <message>
        <source>声音输出</source>
        <translation>Sound output</translation>
    </message>
</context>
<context>
    <name>tamberlo::ChipCommands</name>
    <message>
        <source>数据格式非法</source>
        <translation>Invalid data format</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>器件类型</source>
        <translation>Device type</translation>
    </message>
    <message>
        <source>请先停止上一次录音</source>
        <translation>Please stop the previous recording first</translation>
    </message>
    <message>
        <source>串口没打开</source>
        <translation>Serial port not open</translation>
    </message>
    <message>
        <source>串口状态</source>
        <translation>Serial port status</translation>
    </message>
</context>
<context>
    <name>tamberlo::PortControl</name>
    <message>
        <source>关闭串口</source>
        <translation>Close port</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>串口状态</source>
        <translation>Serial port status</translation>
    </message>
    <message>
        <source>串口打开失败：串口号无效，%1。</source>
        <translation>Cannot open the serial port: invalid port number, %1.</translation>
    </message>
    <message>
        <source>串口打开失败：%1</source>
        <translation>Cannot open the serial port: %1</translation>
    </message>
    <message>
        <source>
当前用户没有使用这个串口的权限：须把用户加入 dialout 组（sudo usermod -aG dialout $USER），重新登录后再试。</source>
        <translation>
You may not use this serial port: add your user to the dialout group (sudo usermod -aG dialout $USER), log in again and retry.</translation>
    </message>
    <message>
        <source>串口已断开</source>
        <translation>Serial port disconnected</translation>
    </message>
</context>
<context>
    <name>tamberlo::QtAudioPlayer</name>
    <message>
        <source>没有文件名</source>
        <translation>No file name</translation>
    </message>
    <message>
        <source>文件不存在</source>
        <translation>The file does not exist</translation>
    </message>
    <message>
        <source>加载超时</source>
        <translation>Loading timed out</translation>
    </message>
    <message>
        <source>没有安装 %1 格式的解码器。
它通常由软件包 %2 提供。</source>
        <translation>No decoder for the %1 format is installed.
It is normally provided by the package %2.</translation>
    </message>
    <message>
        <source>无法读取这个文件，或者文件已经损坏。</source>
        <translation>The file cannot be read, or it is damaged.</translation>
    </message>
    <message>
        <source>没有读取这个文件的权限。</source>
        <translation>You may not read this file.</translation>
    </message>
    <message>
        <source>文件格式无法识别，或者文件已经损坏。</source>
        <translation>The file&apos;s format is not recognised, or the file is damaged.</translation>
    </message>
</context>
<context>
    <name>tamberlo::QtSerialPort</name>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1：串口正被其他程序使用（%2）</source>
        <translation>%1: the port is in use by another program (%2)</translation>
    </message>
</context>
<context>
    <name>tamberlo::planwin::MemoryBar</name>
    <message>
        <source>行 %1–%2 (%3 行)</source>
        <translation>rows %1–%2 (%3 rows)</translation>
    </message>
    <message>
        <source>超出 %1：缺 %2 行</source>
        <translation>Beyond the %1: %2 rows missing</translation>
    </message>
    <message>
        <source>空闲：%1</source>
        <translation>Free: %1</translation>
    </message>
    <message>
        <source>缺 %1 行</source>
        <translation>%1 rows missing</translation>
    </message>
    <message>
        <source>型号未知：读芯片后显示全部存储</source>
        <translation>Model unknown: the whole memory shows once the chip is read</translation>
    </message>
</context>
<context>
    <name>tamberlo::planwin::PlanTableModel</name>
    <message>
        <source>等待</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>录音中</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>已录</source>
        <translation>Recorded</translation>
    </message>
    <message>
        <source>未完成</source>
        <translation>Incomplete</translation>
    </message>
    <message>
        <source>找到</source>
        <translation>Found</translation>
    </message>
    <message>
        <source>缺失</source>
        <translation>Missing</translation>
    </message>
    <message>
        <source>移位</source>
        <translation>Moved</translation>
    </message>
    <message>
        <source>无法播放</source>
        <translation>Cannot play</translation>
    </message>
    <message>
        <source>头文件中为 %1</source>
        <translation>%1 in the header</translation>
    </message>
    <message>
        <source>编号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>行数</source>
        <translation>Rows</translation>
    </message>
    <message>
        <source>起始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>结束</source>
        <translation>End</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
</context>
<context>
    <name>tamberlo::planwin::PlanWindow</name>
    <message>
        <source>添加音频文件或打开一个计划文件。</source>
        <translation>Add audio files or open a plan file.</translation>
    </message>
    <message>
        <source>声音输出</source>
        <translation>Sound output</translation>
    </message>
    <message>
        <source>Tamberlo 录音计划</source>
        <translation>Tamberlo Message Plan</translation>
    </message>
    <message>
        <source>芯片</source>
        <translation>Chip</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>录音或校验时读芯片的器件 ID</source>
        <translation>Reads the chip&apos;s device ID when recording or verifying</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>型号</source>
        <translation>Model</translation>
    </message>
    <message>
        <source>采样率</source>
        <translation>Rate</translation>
    </message>
    <message>
        <source>计划文件</source>
        <translation>Plan file</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save as</translation>
    </message>
    <message>
        <source>导出地址表</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>头文件 .h</source>
        <translation>Header .h</translation>
    </message>
    <message>
        <source>录音段</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>添加文件…</source>
        <translation>Add files…</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>上移</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>下移</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>芯片存储</source>
        <translation>Chip memory</translation>
    </message>
    <message>
        <source>录音</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>先擦除全部</source>
        <translation>Erase all first</translation>
    </message>
    <message>
        <source>全部录音</source>
        <translation>Record all</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>从这里继续</source>
        <translation>Continue from here</translation>
    </message>
    <message>
        <source>校验</source>
        <translation>Verify</translation>
    </message>
    <message>
        <source>当前段</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>已用时</source>
        <translation>Elapsed</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>Total</translation>
    </message>
    <message>
        <source>剩余</source>
        <translation>Remaining</translation>
    </message>
    <message>
        <source>%1：已用 %2 / %3 行 (%4 s / %5 s)，%6 段</source>
        <translation>%1: uses %2 of %3 rows (%4 s of %5 s), %6 messages</translation>
    </message>
    <message>
        <source>——放不下，缺 %1 行</source>
        <translation> — does not fit, %1 rows missing</translation>
    </message>
    <message>
        <source>型号自动：已用 %1 行 (%2 s)，%3 段</source>
        <translation>Model auto: uses %1 rows (%2 s), %3 messages</translation>
    </message>
    <message>
        <source>计划文件：未保存</source>
        <translation>Plan file: not saved</translation>
    </message>
    <message>
        <source>计划文件：%1</source>
        <translation>Plan file: %1</translation>
    </message>
    <message>
        <source>已添加 %1 个文件。</source>
        <translation>Files added: %1.</translation>
    </message>
    <message>
        <source>从第 %1 段继续录音，前面已录的段保持不变</source>
        <translation>Record again from message %1; the messages before it stay as they are</translation>
    </message>
    <message>
        <source>录音计划</source>
        <translation>Message plan</translation>
    </message>
    <message>
        <source>添加音频文件</source>
        <translation>Add audio files</translation>
    </message>
    <message>
        <source>音频文件 (*.mp3 *.wav)</source>
        <translation>Audio files (*.mp3 *.wav)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>打开录音计划</source>
        <translation>Open message plan</translation>
    </message>
    <message>
        <source>录音计划 (*.json)</source>
        <translation>Message plans (*.json)</translation>
    </message>
    <message>
        <source>无法打开计划文件：
%1</source>
        <translation>Cannot open the plan file:
%1</translation>
    </message>
    <message>
        <source>已打开 %1：%2 段。</source>
        <translation>Opened %1: %2 messages.</translation>
    </message>
    <message>
        <source>无法保存计划文件 %1：%2</source>
        <translation>Cannot save the plan file %1: %2</translation>
    </message>
    <message>
        <source>已保存 %1。</source>
        <translation>Saved %1.</translation>
    </message>
    <message>
        <source>保存录音计划</source>
        <translation>Save message plan</translation>
    </message>
    <message>
        <source>C 头文件 (*.h)</source>
        <translation>C headers (*.h)</translation>
    </message>
    <message>
        <source>CSV 表格 (*.csv)</source>
        <translation>CSV tables (*.csv)</translation>
    </message>
    <message>
        <source>JSON (*.json)</source>
        <translation>JSON (*.json)</translation>
    </message>
    <message>
        <source>计划有问题，不能导出：</source>
        <translation>The plan has problems and cannot be exported:</translation>
    </message>
    <message>
        <source>无法写入 %1：%2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>地址表已导出到 %1。</source>
        <translation>Address table exported to %1.</translation>
    </message>
    <message>
        <source>串口号 &quot;%1&quot; 无效：%2</source>
        <translation>Port number &quot;%1&quot; is invalid: %2</translation>
    </message>
    <message>
        <source>串口状态</source>
        <translation>Serial port status</translation>
    </message>
    <message>
        <source>串口 %1 打不开：%2</source>
        <translation>Cannot open port %1: %2</translation>
    </message>
    <message>
        <source>计划中还没有录音段</source>
        <translation>The plan has no messages yet</translation>
    </message>
    <message>
        <source>计划有问题，什么都没有录：</source>
        <translation>The plan has problems; nothing was recorded:</translation>
    </message>
    <message>
        <source>录音前要擦除芯片中的全部内容（包括计划以外的段）。
继续吗？</source>
        <translation>Recording first erases everything in the chip (messages outside the plan too).
Continue?</translation>
    </message>
    <message>
        <source>擦除全部</source>
        <translation>Erase all</translation>
    </message>
    <message>
        <source>正在擦除芯片……</source>
        <translation>Erasing the chip…</translation>
    </message>
    <message>
        <source>正在连接芯片……</source>
        <translation>Connecting to the chip…</translation>
    </message>
    <message>
        <source>正在停止……</source>
        <translation>Stopping…</translation>
    </message>
    <message>
        <source>正在录第 %1 段（共 %2 段）：%3，行 %4–%5</source>
        <translation>Recording message %1 of %2: %3, rows %4–%5</translation>
    </message>
    <message>
        <source>全部录完，正在读回芯片中的段（map）……</source>
        <translation>All recorded; reading the chip&apos;s messages back (map)…</translation>
    </message>
    <message>
        <source>全部录完：%1 段，芯片中的段与计划一致。</source>
        <translation>All recorded: %1 messages; the chip&apos;s messages match the plan.</translation>
    </message>
    <message>
        <source>录完了，但芯片与计划不一致：
%1</source>
        <translation>Recorded, but the chip differs from the plan:
%1</translation>
    </message>
    <message>
        <source>什么都没有录：
%1</source>
        <translation>Nothing was recorded:
%1</translation>
    </message>
    <message>
        <source>录音中断，可从第 %1 段继续：</source>
        <translation>Recording interrupted; it can continue from message %1:</translation>
    </message>
    <message>
        <source>录音中断：</source>
        <translation>Recording interrupted:</translation>
    </message>
    <message>
        <source>正在读芯片中的段：已找到 %1 段……</source>
        <translation>Reading the chip&apos;s messages: %1 found…</translation>
    </message>
    <message>
        <source>正在读芯片中的段（map）……</source>
        <translation>Reading the chip&apos;s messages (map)…</translation>
    </message>
    <message>
        <source>校验没有完成：%1</source>
        <translation>Verify did not finish: %1</translation>
    </message>
    <message>
        <source>（芯片 %1）</source>
        <translation>(chip %1)</translation>
    </message>
    <message>
        <source>芯片中有 %1 段：找到 %2，缺失 %3，移位 %4</source>
        <translation>The chip has %1 messages: %2 found, %3 missing, %4 moved</translation>
    </message>
    <message>
        <source>；计划外的段：%1</source>
        <translation>; outside the plan: %1</translation>
    </message>
    <message>
        <source>。</source>
        <translation>.</translation>
    </message>
</context>
</TS>
