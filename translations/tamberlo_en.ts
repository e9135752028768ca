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
    <name>tamberlo::Transmitter</name>
    <message>
        <source>串口没打开</source>
        <translation>Serial port not open</translation>
    </message>
    <message>
        <source>串口状态</source>
        <translation>Serial port status</translation>
    </message>
</context>
</TS>
