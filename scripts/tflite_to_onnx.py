#!/usr/bin/python3
"""Converts the MediaPipe selfie-segmentation TFLite graph into an ONNX model for OpenCV's dnn module.

The TFLite flatbuffer is read directly (no TensorFlow needed). Only the operators that the
selfie-segmentation graphs use are supported; anything else stops the conversion with a message.

The ONNX graph works in NCHW order, the layout OpenCV's blobFromImage produces:
  input  "input"   float [1, 3, H, W]  RGB in 0..1
  output "segment" float [1, 1, H, W]  person probability (after the sigmoid)

Besides the converter this file holds a small NumPy interpreter of the original TFLite graph
(NHWC, weights in their TFLite layout). It shares no layout code with the converter and is used
to produce a reference input/output pair that the C++ tests run through OpenCV.

Usage:
  tflite_to_onnx.py MODEL.tflite OUT.onnx [--reference OUT.ref]
  tflite_to_onnx.py --self-test MODEL.tflite
"""

import argparse
import struct
import sys

import numpy as np

# --------------------------------------------------------------------------------------------
# Flatbuffer reading

BUILTIN = {
    0: "ADD",
    1: "AVERAGE_POOL_2D",
    3: "CONV_2D",
    4: "DEPTHWISE_CONV_2D",
    6: "DEQUANTIZE",
    14: "LOGISTIC",
    18: "MUL",
    19: "RELU",
    21: "RELU6",
    23: "RESIZE_BILINEAR",
    32: "CUSTOM",
    40: "MEAN",
    117: "HARD_SWISH",
}
TENSOR_TYPES = {0: np.float32, 1: np.float16, 2: np.int32, 3: np.uint8, 4: np.int64}
ACTIVATIONS = {0: None, 1: "RELU", 3: "RELU6"}


class ConversionError(Exception):
    pass


class Table:
    """One flatbuffer table: a position and its vtable."""

    def __init__(self, buf, pos):
        self.buf = buf
        self.pos = pos
        self.vtable = pos - struct.unpack_from("<i", buf, pos)[0]
        self.vtable_len = struct.unpack_from("<H", buf, self.vtable)[0]

    def _field(self, index):
        entry = 4 + 2 * index
        if entry >= self.vtable_len:
            return 0
        return struct.unpack_from("<H", self.buf, self.vtable + entry)[0]

    def scalar(self, index, fmt, default=0):
        off = self._field(index)
        return struct.unpack_from("<" + fmt, self.buf, self.pos + off)[0] if off else default

    def _indirect(self, index):
        off = self._field(index)
        if not off:
            return None
        at = self.pos + off
        return at + struct.unpack_from("<I", self.buf, at)[0]

    def table(self, index):
        at = self._indirect(index)
        return Table(self.buf, at) if at is not None else None

    def _vector(self, index):
        at = self._indirect(index)
        if at is None:
            return None, 0
        return at + 4, struct.unpack_from("<I", self.buf, at)[0]

    def tables(self, index):
        start, count = self._vector(index)
        out = []
        for k in range(count):
            at = start + 4 * k
            out.append(Table(self.buf, at + struct.unpack_from("<I", self.buf, at)[0]))
        return out

    def ints(self, index):
        start, count = self._vector(index)
        return list(struct.unpack_from("<%di" % count, self.buf, start)) if count else []

    def raw(self, index):
        start, count = self._vector(index)
        return bytes(self.buf[start:start + count]) if count else b""

    def string(self, index):
        at = self._indirect(index)
        if at is None:
            return None
        length = struct.unpack_from("<I", self.buf, at)[0]
        return bytes(self.buf[at + 4:at + 4 + length]).decode("utf-8")


class Tensor:
    def __init__(self, name, shape, dtype, data):
        self.name = name
        self.shape = shape
        self.dtype = dtype
        self.data = data  # numpy array for constants, else None


class Op:
    def __init__(self, kind, inputs, outputs, options):
        self.kind = kind
        self.inputs = inputs
        self.outputs = outputs
        self.options = options


def _padding(code):
    # Conv2DOptions / Pool2DOptions padding enum: SAME = 0, VALID = 1.
    return {0: "SAME", 1: "VALID"}[code]


def _activation(code):
    if code not in ACTIVATIONS:
        raise ConversionError("unsupported fused activation %d" % code)
    return ACTIVATIONS[code]


def read_tflite(data):
    """Returns (tensors, ops, graph inputs, graph outputs) of the first subgraph."""
    if len(data) < 8 or data[4:8] != b"TFL3":
        raise ConversionError("not a TFLite model (file identifier TFL3 missing)")
    model = Table(data, struct.unpack_from("<I", data, 0)[0])
    codes = []
    for code in model.tables(1):
        builtin = max(code.scalar(0, "b"), code.scalar(3, "i"))
        codes.append((builtin, code.string(1)))
    buffers = [b.raw(0) for b in model.tables(4)]
    subgraphs = model.tables(2)
    if len(subgraphs) != 1:
        raise ConversionError("expected one subgraph, found %d" % len(subgraphs))
    graph = subgraphs[0]

    tensors = []
    for t in graph.tables(0):
        ttype = t.scalar(1, "b")
        if ttype not in TENSOR_TYPES:
            raise ConversionError("unsupported tensor type %d" % ttype)
        dtype = TENSOR_TYPES[ttype]
        shape = t.ints(0)
        payload = buffers[t.scalar(2, "I")]
        array = None
        if payload:
            array = np.frombuffer(payload, dtype=dtype).reshape(shape).copy()
        tensors.append(Tensor(t.string(3), shape, dtype, array))

    ops = []
    for o in graph.tables(3):
        builtin, custom = codes[o.scalar(0, "I")]
        kind = BUILTIN.get(builtin)
        if kind is None:
            raise ConversionError("unsupported builtin operator %d" % builtin)
        opt = o.table(4)
        options = {}
        if kind == "CONV_2D":
            options = dict(padding=_padding(opt.scalar(0, "b")), stride_w=opt.scalar(1, "i"),
                           stride_h=opt.scalar(2, "i"), activation=_activation(opt.scalar(3, "b")),
                           dilation_w=opt.scalar(4, "i", 1), dilation_h=opt.scalar(5, "i", 1))
        elif kind == "DEPTHWISE_CONV_2D":
            options = dict(padding=_padding(opt.scalar(0, "b")), stride_w=opt.scalar(1, "i"),
                           stride_h=opt.scalar(2, "i"), multiplier=opt.scalar(3, "i"),
                           activation=_activation(opt.scalar(4, "b")),
                           dilation_w=opt.scalar(5, "i", 1), dilation_h=opt.scalar(6, "i", 1))
        elif kind == "AVERAGE_POOL_2D":
            options = dict(padding=_padding(opt.scalar(0, "b")), stride_w=opt.scalar(1, "i"),
                           stride_h=opt.scalar(2, "i"), filter_w=opt.scalar(3, "i"),
                           filter_h=opt.scalar(4, "i"), activation=_activation(opt.scalar(5, "b")))
        elif kind in ("ADD", "MUL"):
            options = dict(activation=_activation(opt.scalar(0, "b")) if opt else None)
        elif kind == "MEAN":
            options = dict(keep_dims=bool(opt.scalar(0, "B")) if opt else False)
        elif kind == "RESIZE_BILINEAR":
            options = dict(align_corners=bool(opt.scalar(2, "B")), half_pixel=bool(opt.scalar(3, "B")))
        elif kind == "CUSTOM":
            if custom != "Convolution2DTransposeBias":
                raise ConversionError("unsupported custom operator %r" % custom)
            kind = "TRANSPOSE_CONV_BIAS"
            raw = o.raw(5)
            # The custom options are a plain struct: padding (1 = SAME, 2 = VALID), stride w, stride h.
            pad_code, stride_w, stride_h = struct.unpack_from("<3i", raw, 0)
            options = dict(padding={1: "SAME", 2: "VALID"}[pad_code], stride_w=stride_w, stride_h=stride_h)
        ops.append(Op(kind, o.ints(1), o.ints(2), options))
    return tensors, ops, graph.ints(1), graph.ints(2)


# --------------------------------------------------------------------------------------------
# Shared helpers

def same_padding(size, kernel, stride, dilation=1):
    """TensorFlow SAME padding as (before, after); the odd pixel goes at the end."""
    effective = (kernel - 1) * dilation + 1
    out = (size + stride - 1) // stride
    total = max((out - 1) * stride + effective - size, 0)
    return total // 2, total - total // 2


def fold_dequantize(tensors, ops):
    """DEQUANTIZE of a float16 constant becomes a float32 constant; returns the remaining ops."""
    rest = []
    for op in ops:
        if op.kind == "DEQUANTIZE":
            src = tensors[op.inputs[0]]
            if src.data is None:
                raise ConversionError("DEQUANTIZE of a non-constant tensor is not supported")
            tensors[op.outputs[0]].data = src.data.astype(np.float32)
        else:
            rest.append(op)
    return rest


# --------------------------------------------------------------------------------------------
# NumPy reference interpreter (NHWC, TFLite weight layouts)

def _act(x, name):
    if name == "RELU":
        return np.maximum(x, 0)
    if name == "RELU6":
        return np.clip(x, 0, 6)
    return x


def _pad_nhwc(x, kh, kw, sh, sw, padding):
    if padding == "VALID":
        return x
    pt, pb = same_padding(x.shape[1], kh, sh)
    pl, pr = same_padding(x.shape[2], kw, sw)
    return np.pad(x, ((0, 0), (pt, pb), (pl, pr), (0, 0)))


def _ref_conv(x, w, b, o):
    # w: [out, kh, kw, in]
    _, kh, kw, _ = w.shape
    sh, sw = o["stride_h"], o["stride_w"]
    xp = _pad_nhwc(x, kh, kw, sh, sw, o["padding"])
    oh = (xp.shape[1] - kh) // sh + 1
    ow = (xp.shape[2] - kw) // sw + 1
    out = np.zeros((x.shape[0], oh, ow, w.shape[0]), np.float64)
    for ky in range(kh):
        for kx in range(kw):
            patch = xp[:, ky:ky + sh * (oh - 1) + 1:sh, kx:kx + sw * (ow - 1) + 1:sw, :]
            out += patch @ w[:, ky, kx, :].T.astype(np.float64)
    return _act(out + b, o["activation"])


def _ref_depthwise(x, w, b, o):
    # w: [1, kh, kw, channels * multiplier]
    if o["multiplier"] != 1:
        raise ConversionError("depth multiplier other than 1 is not supported")
    _, kh, kw, _ = w.shape
    sh, sw = o["stride_h"], o["stride_w"]
    xp = _pad_nhwc(x, kh, kw, sh, sw, o["padding"])
    oh = (xp.shape[1] - kh) // sh + 1
    ow = (xp.shape[2] - kw) // sw + 1
    out = np.zeros((x.shape[0], oh, ow, w.shape[3]), np.float64)
    for ky in range(kh):
        for kx in range(kw):
            patch = xp[:, ky:ky + sh * (oh - 1) + 1:sh, kx:kx + sw * (ow - 1) + 1:sw, :]
            out += patch * w[0, ky, kx, :]
    return _act(out + b, o["activation"])


def _ref_avgpool(x, o):
    fh, fw, sh, sw = o["filter_h"], o["filter_w"], o["stride_h"], o["stride_w"]
    if o["padding"] == "SAME":
        pt, pb = same_padding(x.shape[1], fh, sh)
        pl, pr = same_padding(x.shape[2], fw, sw)
    else:
        pt = pb = pl = pr = 0
    h, w = x.shape[1], x.shape[2]
    oh = (h + pt + pb - fh) // sh + 1
    ow = (w + pl + pr - fw) // sw + 1
    out = np.zeros((x.shape[0], oh, ow, x.shape[3]), np.float64)
    for i in range(oh):
        for j in range(ow):
            y0, x0 = max(i * sh - pt, 0), max(j * sw - pl, 0)
            y1, x1 = min(i * sh - pt + fh, h), min(j * sw - pl + fw, w)
            out[:, i, j, :] = x[:, y0:y1, x0:x1, :].mean(axis=(1, 2))  # padding is not counted
    return _act(out, o["activation"])


def _ref_resize(x, size, o):
    oh, ow = int(size[0]), int(size[1])

    def axis(n_in, n_out):
        if o["align_corners"] and n_out > 1:
            src = np.arange(n_out) * (n_in - 1) / (n_out - 1)
        elif o["half_pixel"]:
            src = (np.arange(n_out) + 0.5) * (n_in / n_out) - 0.5
        else:
            src = np.arange(n_out) * (n_in / n_out)
        lo_f = np.floor(src)
        lerp = src - lo_f
        lo = np.clip(lo_f.astype(int), 0, n_in - 1)
        hi = np.clip(np.ceil(src).astype(int), 0, n_in - 1)
        return lo, hi, lerp

    ylo, yhi, ly = axis(x.shape[1], oh)
    xlo, xhi, lx = axis(x.shape[2], ow)
    top = x[:, ylo, :, :] * (1 - ly)[None, :, None, None] + x[:, yhi, :, :] * ly[None, :, None, None]
    return top[:, :, xlo, :] * (1 - lx)[None, None, :, None] + top[:, :, xhi, :] * lx[None, None, :, None]


def _ref_transpose_conv(x, w, b, o):
    # w: [out, kh, kw, in]; each input pixel spreads its kernel over the output.
    n, h, wd, _ = x.shape
    _, kh, kw, _ = w.shape
    sh, sw = o["stride_h"], o["stride_w"]
    full_h, full_w = (h - 1) * sh + kh, (wd - 1) * sw + kw
    full = np.zeros((n, full_h, full_w, w.shape[0]), np.float64)
    for ky in range(kh):
        for kx in range(kw):
            full[:, ky:ky + sh * (h - 1) + 1:sh, kx:kx + sw * (wd - 1) + 1:sw, :] += x @ w[:, ky, kx, :].T
    if o["padding"] == "SAME":
        out_h, out_w = h * sh, wd * sw
    else:
        out_h, out_w = full_h, full_w
    pt = max((h - 1) * sh + kh - out_h, 0) // 2
    pl = max((wd - 1) * sw + kw - out_w, 0) // 2
    return full[:, pt:pt + out_h, pl:pl + out_w, :] + b


def reference_run(tensors, ops, graph_inputs, graph_outputs, image_nhwc):
    values = {i: t.data.astype(np.float64) for i, t in enumerate(tensors) if t.data is not None}
    values[graph_inputs[0]] = image_nhwc.astype(np.float64)
    for op in ops:
        ins = [values[i] if i >= 0 else None for i in op.inputs]
        o = op.options
        k = op.kind
        if k == "CONV_2D":
            out = _ref_conv(ins[0], ins[1], ins[2], o)
        elif k == "DEPTHWISE_CONV_2D":
            out = _ref_depthwise(ins[0], ins[1], ins[2], o)
        elif k == "AVERAGE_POOL_2D":
            out = _ref_avgpool(ins[0], o)
        elif k == "ADD":
            out = _act(ins[0] + ins[1], o["activation"])
        elif k == "MUL":
            out = _act(ins[0] * ins[1], o["activation"])
        elif k == "MEAN":
            axes = tuple(int(a) for a in np.atleast_1d(ins[1]))
            out = ins[0].mean(axis=axes, keepdims=o["keep_dims"])
        elif k == "RELU":
            out = np.maximum(ins[0], 0)
        elif k == "RELU6":
            out = np.clip(ins[0], 0, 6)
        elif k == "LOGISTIC":
            out = 1.0 / (1.0 + np.exp(-ins[0]))
        elif k == "HARD_SWISH":
            out = ins[0] * np.clip(ins[0] + 3, 0, 6) / 6
        elif k == "RESIZE_BILINEAR":
            out = _ref_resize(ins[0], ins[1], o)
        elif k == "TRANSPOSE_CONV_BIAS":
            out = _ref_transpose_conv(ins[0], ins[1], ins[2], o)
        else:
            raise ConversionError("no reference for %s" % k)
        expected = tuple(tensors[op.outputs[0]].shape)
        if tuple(out.shape) != expected:
            raise ConversionError("%s produced %s, graph says %s" % (k, out.shape, expected))
        values[op.outputs[0]] = out
    return values[graph_outputs[0]]


# --------------------------------------------------------------------------------------------
# ONNX builder (NCHW)

def build_onnx(tensors, ops, graph_inputs, graph_outputs, producer="vantry tflite_to_onnx"):
    import onnx
    from onnx import TensorProto, helper, numpy_helper

    nodes = []
    inits = []
    names = {}
    counter = [0]

    def fresh(base):
        counter[0] += 1
        return "%s__%d" % (base, counter[0])

    def const(array, base):
        name = fresh(base)
        inits.append(numpy_helper.from_array(np.asarray(array), name))
        return name

    def name_of(index):
        if index in names:
            return names[index]
        t = tensors[index]
        if t.data is None:
            raise ConversionError("tensor %r used before it is produced" % t.name)
        data = t.data.astype(np.float32) if t.data.dtype != np.int32 else t.data
        if data.ndim == 1:  # per-channel constant: broadcast over H and W
            data = data.reshape(1, -1, 1, 1)
        elif data.ndim == 4:
            data = data.transpose(0, 3, 1, 2)
        names[index] = const(data, t.name)
        return names[index]

    def activation(x, act, out):
        if act == "RELU":
            nodes.append(helper.make_node("Relu", [x], [out]))
        else:  # relu6(x) = 6 * hard_sigmoid(x / 6); OpenCV reads no Clip with bound inputs
            gate = fresh("relu6_gate")
            nodes.append(helper.make_node("HardSigmoid", [x], [gate], alpha=1.0 / 6.0, beta=0.0))
            nodes.append(helper.make_node("Mul", [gate, const(np.float32(6), "six")], [out]))

    def explicit_pads(shape_nhwc, kh, kw, o):
        if o["padding"] == "VALID":
            return [0, 0, 0, 0]
        pt, pb = same_padding(shape_nhwc[1], kh, o["stride_h"], o.get("dilation_h", 1))
        pl, pr = same_padding(shape_nhwc[2], kw, o["stride_w"], o.get("dilation_w", 1))
        return [pt, pl, pb, pr]

    in_index = graph_inputs[0]
    in_shape = tensors[in_index].shape  # NHWC
    names[in_index] = "input"

    for op in ops:
        k = op.kind
        o = op.options
        out_t = tensors[op.outputs[0]]
        out_name = fresh(out_t.name)
        x_shape = tensors[op.inputs[0]].shape
        if k in ("CONV_2D", "DEPTHWISE_CONV_2D"):
            w = tensors[op.inputs[1]].data
            b = tensors[op.inputs[2]].data if len(op.inputs) > 2 and op.inputs[2] >= 0 else None
            if k == "CONV_2D":
                w_onnx = w.transpose(0, 3, 1, 2)  # [out, kh, kw, in] -> [out, in, kh, kw]
                group = 1
            else:
                if o["multiplier"] != 1:
                    raise ConversionError("depth multiplier other than 1 is not supported")
                w_onnx = w.transpose(3, 0, 1, 2)  # [1, kh, kw, c] -> [c, 1, kh, kw]
                group = w.shape[3]
            kh, kw = w.shape[1], w.shape[2]
            args = [name_of(op.inputs[0]), const(w_onnx.astype(np.float32), out_t.name + "_w")]
            if b is not None:
                args.append(const(b.astype(np.float32), out_t.name + "_b"))
            conv_out = fresh(out_t.name + "_conv") if o["activation"] else out_name
            nodes.append(helper.make_node(
                "Conv", args, [conv_out], kernel_shape=[kh, kw], strides=[o["stride_h"], o["stride_w"]],
                dilations=[o["dilation_h"], o["dilation_w"]], pads=explicit_pads(x_shape, kh, kw, o), group=group))
            if o["activation"]:
                activation(conv_out, o["activation"], out_name)
        elif k == "TRANSPOSE_CONV_BIAS":
            w = tensors[op.inputs[1]].data  # [out, kh, kw, in]
            b = tensors[op.inputs[2]].data
            kh, kw = w.shape[1], w.shape[2]
            sh, sw = o["stride_h"], o["stride_w"]
            h, wd = x_shape[1], x_shape[2]
            out_h, out_w = (h * sh, wd * sw) if o["padding"] == "SAME" else ((h - 1) * sh + kh, (wd - 1) * sw + kw)
            pad_h = max((h - 1) * sh + kh - out_h, 0)
            pad_w = max((wd - 1) * sw + kw - out_w, 0)
            pads = [pad_h // 2, pad_w // 2, pad_h - pad_h // 2, pad_w - pad_w // 2]
            nodes.append(helper.make_node(
                "ConvTranspose",
                [name_of(op.inputs[0]), const(w.transpose(3, 0, 1, 2).astype(np.float32), out_t.name + "_w"),
                 const(b.astype(np.float32), out_t.name + "_b")],
                [out_name], kernel_shape=[kh, kw], strides=[sh, sw], pads=pads))
        elif k == "AVERAGE_POOL_2D":
            fh, fw = o["filter_h"], o["filter_w"]
            if o["padding"] == "VALID" and fh == x_shape[1] and fw == x_shape[2]:
                pool_out = fresh(out_t.name + "_pool") if o["activation"] else out_name
                nodes.append(helper.make_node("GlobalAveragePool", [name_of(op.inputs[0])], [pool_out]))
            else:
                pool_out = fresh(out_t.name + "_pool") if o["activation"] else out_name
                nodes.append(helper.make_node(
                    "AveragePool", [name_of(op.inputs[0])], [pool_out], kernel_shape=[fh, fw],
                    strides=[o["stride_h"], o["stride_w"]], pads=explicit_pads(x_shape, fh, fw, o),
                    count_include_pad=0))
            if o["activation"]:
                activation(pool_out, o["activation"], out_name)
        elif k == "MEAN":
            axes = tensors[op.inputs[1]].data
            if axes is None or sorted(int(a) for a in np.atleast_1d(axes)) != [1, 2] or not o["keep_dims"]:
                raise ConversionError("MEAN is supported only over height and width with kept dimensions")
            nodes.append(helper.make_node("GlobalAveragePool", [name_of(op.inputs[0])], [out_name]))
        elif k in ("ADD", "MUL"):
            res = fresh(out_t.name + "_op") if o["activation"] else out_name
            nodes.append(helper.make_node("Add" if k == "ADD" else "Mul",
                                          [name_of(op.inputs[0]), name_of(op.inputs[1])], [res]))
            if o["activation"]:
                activation(res, o["activation"], out_name)
        elif k == "RELU":
            nodes.append(helper.make_node("Relu", [name_of(op.inputs[0])], [out_name]))
        elif k == "RELU6":
            activation(name_of(op.inputs[0]), "RELU6", out_name)
        elif k == "LOGISTIC":
            nodes.append(helper.make_node("Sigmoid", [name_of(op.inputs[0])], [out_name]))
        elif k == "HARD_SWISH":
            # x * relu6(x + 3) / 6 = x * hard_sigmoid(x) with slope 1/6 and offset 1/2.
            x = name_of(op.inputs[0])
            gate = fresh("hs_gate")
            nodes.append(helper.make_node("HardSigmoid", [x], [gate], alpha=1.0 / 6.0, beta=0.5))
            nodes.append(helper.make_node("Mul", [x, gate], [out_name]))
        elif k == "RESIZE_BILINEAR":
            size = tensors[op.inputs[1]].data
            if size is None:
                raise ConversionError("RESIZE_BILINEAR needs a constant size")
            if o["align_corners"]:
                mode = "align_corners"
            elif o["half_pixel"]:
                mode = "half_pixel"
            else:
                mode = "asymmetric"
            sizes = np.array([1, x_shape[3], int(size[0]), int(size[1])], np.int64)
            nodes.append(helper.make_node(
                "Resize", [name_of(op.inputs[0]), const(np.array([], np.float32), "roi"),
                           const(np.array([], np.float32), "scales"), const(sizes, "sizes")],
                [out_name], mode="linear", coordinate_transformation_mode=mode))
        else:
            raise ConversionError("no ONNX mapping for %s" % k)
        names[op.outputs[0]] = out_name

    out_index = graph_outputs[0]
    out_shape = tensors[out_index].shape
    final = names[out_index]
    for node in nodes:  # the last operator writes the graph output under its public name
        node.output[:] = ["segment" if n == final else n for n in node.output]
    graph = helper.make_graph(
        nodes, "selfie_segmentation", [helper.make_tensor_value_info(
            "input", TensorProto.FLOAT, [1, in_shape[3], in_shape[1], in_shape[2]])],
        [helper.make_tensor_value_info("segment", TensorProto.FLOAT,
                                       [1, out_shape[3], out_shape[1], out_shape[2]])],
        initializer=inits)
    model = helper.make_model(graph, producer_name=producer, opset_imports=[helper.make_opsetid("", 11)])
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model


# --------------------------------------------------------------------------------------------
# Reference pair: a deterministic test picture and the interpreter's output for it

REF_MAGIC = b"VSEGREF1"


def reference_picture(height, width, seed=9):
    """A smooth picture with structure at several scales, RGB in 0..1 (NHWC)."""
    rng = np.random.default_rng(seed)
    yy, xx = np.mgrid[0:height, 0:width].astype(np.float64)
    img = np.zeros((1, height, width, 3))
    for c in range(3):
        fy, fx, ph = rng.uniform(0.01, 0.12, 3)
        img[0, :, :, c] = 0.5 + 0.35 * np.sin(fy * yy * 3 + ph * 6) * np.cos(fx * xx * 2 + c)
    # A bright ellipse ("head") and a darker block ("body") so the model sees large shapes too.
    head = ((yy - height * 0.35) / (height * 0.16)) ** 2 + ((xx - width * 0.5) / (width * 0.12)) ** 2 < 1
    body = (yy > height * 0.52) & (np.abs(xx - width * 0.5) < width * 0.25)
    img[0, head, :] = [0.86, 0.68, 0.56]
    img[0, body, :] = [0.15, 0.35, 0.75]
    img += rng.normal(0, 0.03, img.shape)
    return np.clip(img, 0, 1).astype(np.float32)


def write_reference(path, image_nhwc, output_nhwc):
    """Little-endian: magic, int32 H, W, C_in, C_out, then input NCHW float32, output NCHW float32."""
    _, h, w, c = image_nhwc.shape
    co = output_nhwc.shape[3]
    with open(path, "wb") as f:
        f.write(REF_MAGIC)
        f.write(struct.pack("<4i", h, w, c, co))
        f.write(np.ascontiguousarray(image_nhwc.transpose(0, 3, 1, 2), dtype="<f4").tobytes())
        f.write(np.ascontiguousarray(output_nhwc.transpose(0, 3, 1, 2), dtype="<f4").tobytes())


# --------------------------------------------------------------------------------------------
# Self-test of the interpreter's building blocks against direct definitions

def self_test(model_path):
    rng = np.random.default_rng(1)
    # SAME padding puts the odd pixel at the end.
    assert same_padding(256, 3, 2) == (0, 1)
    assert same_padding(32, 5, 2) == (1, 2)
    assert same_padding(16, 5, 1) == (2, 2)
    # Convolution against a direct sum.
    x = rng.normal(size=(1, 5, 6, 3))
    w = rng.normal(size=(4, 3, 3, 3))
    b = rng.normal(size=4)
    out = _ref_conv(x, w, b, dict(padding="SAME", stride_h=2, stride_w=2, activation=None))
    pt, _ = same_padding(5, 3, 2)
    pl, _ = same_padding(6, 3, 2)
    for (oy, ox, oc) in [(0, 0, 0), (2, 2, 3), (1, 2, 1)]:
        acc = b[oc]
        for ky in range(3):
            for kx in range(3):
                iy, ix = oy * 2 + ky - pt, ox * 2 + kx - pl
                if 0 <= iy < 5 and 0 <= ix < 6:
                    acc += np.dot(x[0, iy, ix, :], w[oc, ky, kx, :])
        assert abs(out[0, oy, ox, oc] - acc) < 1e-9, "conv mismatch"
    # Transposed convolution: each input pixel owns one 2x2 output block.
    x = rng.normal(size=(1, 3, 4, 5))
    w = rng.normal(size=(2, 2, 2, 5))
    b = rng.normal(size=2)
    out = _ref_transpose_conv(x, w, b, dict(padding="SAME", stride_h=2, stride_w=2))
    assert out.shape == (1, 6, 8, 2)
    for (iy, ix, ky, kx, oc) in [(0, 0, 0, 0, 0), (2, 3, 1, 1, 1), (1, 2, 0, 1, 0)]:
        assert abs(out[0, iy * 2 + ky, ix * 2 + kx, oc] - (np.dot(x[0, iy, ix], w[oc, ky, kx]) + b[oc])) < 1e-9
    # Half-pixel bilinear upsampling by 2 of a ramp is a ramp with clamped ends.
    ramp = np.arange(4, dtype=np.float64).reshape(1, 1, 4, 1)
    up = _ref_resize(ramp, [1, 8], dict(align_corners=False, half_pixel=True))[0, 0, :, 0]
    assert np.allclose(up, [0, 0.25, 0.75, 1.25, 1.75, 2.25, 2.75, 3]), up
    # The whole graph runs with every shape matching.
    tensors, ops, gin, gout = read_tflite(open(model_path, "rb").read())
    ops = fold_dequantize(tensors, ops)
    shape = tensors[gin[0]].shape
    result = reference_run(tensors, ops, gin, gout, reference_picture(shape[1], shape[2]))
    assert result.min() >= 0 and result.max() <= 1
    build_onnx(tensors, ops, gin, gout)
    print("tflite_to_onnx self-test passed (%d operators)" % len(ops))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("model")
    parser.add_argument("output", nargs="?")
    parser.add_argument("--reference", help="also write a reference input/output pair here")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args(argv)
    try:
        if args.self_test:
            self_test(args.model)
            return 0
        if not args.output:
            parser.error("the output path is required")
        with open(args.model, "rb") as f:
            data = f.read()
        tensors, ops, gin, gout = read_tflite(data)
        ops = fold_dequantize(tensors, ops)
        model = build_onnx(tensors, ops, gin, gout)
        import onnx
        onnx.save(model, args.output)
        if args.reference:
            shape = tensors[gin[0]].shape
            picture = reference_picture(shape[1], shape[2])
            write_reference(args.reference, picture, reference_run(tensors, ops, gin, gout, picture))
    except (ConversionError, OSError, struct.error) as err:
        print("tflite_to_onnx: %s" % err, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
