"""Fixtures: a virtual adapter and a facade connected to it."""

from __future__ import annotations

import pytest

from pyvantorsdk import DeviceFacade, DeviceModel, sim


@pytest.fixture
def adapter():
    with sim.VirtualAdapter() as a:
        yield a


@pytest.fixture
def dev(adapter):
    with DeviceFacade() as d:
        assert d.connect(adapter.path)
        yield d


@pytest.fixture(
    params=[
        (DeviceModel.TERANOX, True),
        (DeviceModel.TERANOX, False),
        (DeviceModel.QUILLEX, True),
        (DeviceModel.QUILLEX, False),
    ],
    ids=["teranox-bulk", "teranox-hid", "quillex-bulk", "quillex-hid"],
)
def any_adapter(request):
    model, bulk = request.param
    with sim.VirtualAdapter(model=model, serial=f"SIM-{model.name}-{int(bulk)}", bulk=bulk) as a:
        yield a


@pytest.fixture
def any_dev(any_adapter):
    with DeviceFacade() as d:
        assert d.connect(any_adapter.path)
        yield d
